// The user settings: the settings file's text form, the lookups and the
// changes, which are refused when they could not be read back as given.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "media/zel_util.h"

namespace {

constexpr const char *kRendererKey = "userAssignedRendererInfo";

bool has_line_break(const char *text) { return std::strpbrk(text, "\r\n") != nullptr; }

// A setting that reads back as itself: a name without "=" or line breaks that
// is not the renderer records' key, a value without line breaks, the line
// within the limit.
bool setting_is_storable(const char *name, const char *value) {
  if (!name || !value || !name[0]) return false;
  if (has_line_break(name) || has_line_break(value) || std::strchr(name, '=')) return false;
  if (strcasecmp(name, kRendererKey) == 0) return false;
  return std::strlen(name) + 1 + std::strlen(value) <= ZELUTIL_SETTINGS_LINE_MAX;
}

bool record_is_storable(const char *bookmark, const char *name, int icon) {
  if (!bookmark || !bookmark[0] || !name) return false;
  if (std::strpbrk(bookmark, "|\r\n") || std::strpbrk(name, "|\r\n")) return false;
  char number[16];
  std::snprintf(number, sizeof number, "%d", icon);
  return std::strlen(kRendererKey) + 1 + std::strlen(bookmark) + 1 + std::strlen(name) + 1 + std::strlen(number) <=
         ZELUTIL_SETTINGS_LINE_MAX;
}

ZELUTIL_USER_SETTING_INFO *find_setting(const char *name) {
  if (!name) return nullptr;
  for (ZELUTIL_USER_SETTING_INFO &setting : ZelUtil::s_userSettingList) {
    if (strcasecmp(setting.name.c_str(), name) == 0) return &setting;
  }
  return nullptr;
}

ZELUTIL_USER_ASSIGNED_RENDERER_INFO *find_record(const char *bookmark) {
  if (!bookmark) return nullptr;
  for (ZELUTIL_USER_ASSIGNED_RENDERER_INFO &record : ZelUtil::s_userAssignedRendererInfoList) {
    if (record.rendererBookmark == bookmark) return &record;
  }
  return nullptr;
}

}  // namespace

bool ZelUtil::ParseUserSettings(const std::string &text, std::vector<ZELUTIL_USER_SETTING_INFO> *settings,
                                std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> *renderers, size_t *stop) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(pos, end - pos);
    // Every carriage return at the end goes, so a value never carries one
    // that the next save would turn into a different value.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > ZELUTIL_SETTINGS_LINE_MAX) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "settings line longer than %d characters ends the file",
                    ZELUTIL_SETTINGS_LINE_MAX);
      if (stop) *stop = pos;
      return false;
    }
    pos = nl == std::string::npos ? text.size() : nl + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (name != kRendererKey) {
      settings->push_back(ZELUTIL_USER_SETTING_INFO{name, value});
      continue;
    }
    size_t bar = value.find('|');
    if (bar == std::string::npos) continue;
    ZELUTIL_USER_ASSIGNED_RENDERER_INFO record;
    record.rendererBookmark = value.substr(0, bar);
    size_t bar2 = value.find('|', bar + 1);
    if (bar2 == std::string::npos) {
      record.name = value.substr(bar + 1);
      record.icon = -1;
    } else {
      record.name = value.substr(bar + 1, bar2 - bar - 1);
      long icon = std::strtol(value.c_str() + bar2 + 1, nullptr, 10);
      record.icon = icon < -1 || icon > 0x7FFFFFFF ? -1 : static_cast<int>(icon);
    }
    renderers->push_back(record);
  }
  return true;
}

std::string ZelUtil::FormatUserSettings(const std::vector<ZELUTIL_USER_SETTING_INFO> &settings,
                                        const std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> &renderers) {
  std::string text;
  for (const ZELUTIL_USER_SETTING_INFO &setting : settings) text += setting.name + "=" + setting.value + "\n";
  for (const ZELUTIL_USER_ASSIGNED_RENDERER_INFO &record : renderers) {
    text += std::string(kRendererKey) + "=" + record.rendererBookmark + "|" + record.name + "|" +
            std::to_string(record.icon) + "\n";
  }
  return text;
}

const char *ZelUtil::GetSettingValue(const char *name) {
  LoadUserSettings();
  ZELUTIL_USER_SETTING_INFO *setting = find_setting(name);
  return setting ? setting->value.c_str() : nullptr;
}

bool ZelUtil::GetSettingValueAsInt(const char *name, int *value) {
  const char *text = GetSettingValue(name);
  if (!text || !std::isdigit(static_cast<unsigned char>(text[0])) || !value) return false;
  long number = std::strtol(text, nullptr, 10);
  *value = number > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(number);
  return true;
}

bool ZelUtil::GetSettingValueAsBool(const char *name, bool *value) {
  const char *text = GetSettingValue(name);
  if (!text || !value) return false;
  *value = std::strcmp(text, "true") == 0;
  return true;
}

ZELUTIL_UPDATE_RESULT ZelUtil::UpdateSettingValue(const char *name, const char *text) {
  if (!setting_is_storable(name, text)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "setting refused: %s", name ? name : "(none)");
    return ZU_UPDATE_REFUSED;
  }
  LoadUserSettings();
  ZELUTIL_USER_SETTING_INFO *setting = find_setting(name);
  if (setting && setting->value == text) return ZU_UPDATE_STORED;
  try {
    if (setting) {
      setting->value = text;
    } else {
      s_userSettingList.push_back(ZELUTIL_USER_SETTING_INFO{name, text});
    }
  } catch (const std::exception &) {
    return ZU_UPDATE_NOT_SAVED;
  }
  return SaveUserSettings() ? ZU_UPDATE_STORED : ZU_UPDATE_NOT_SAVED;
}

ZELUTIL_UPDATE_RESULT ZelUtil::UpdateSettingValue(const char *name, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return UpdateSettingValue(name, static_cast<const char *>(text));
}

ZELUTIL_UPDATE_RESULT ZelUtil::UpdateSettingValue(const char *name, bool value) {
  return UpdateSettingValue(name, value ? "true" : "false");
}

ZELUTIL_UPDATE_RESULT ZelUtil::UpdateRendererProperties(const char *bookmark, const char *name, int icon) {
  LoadUserSettings();
  ZELUTIL_USER_ASSIGNED_RENDERER_INFO *record = find_record(bookmark);
  int stored = icon != -1 ? icon : (record ? record->icon : -1);
  if (!record_is_storable(bookmark, name, stored)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "renderer name refused for %s",
                  bookmark ? bookmark : "(none)");
    return ZU_UPDATE_REFUSED;
  }
  try {
    if (!record) {
      s_userAssignedRendererInfoList.push_back(ZELUTIL_USER_ASSIGNED_RENDERER_INFO{bookmark, "", -1});
      record = &s_userAssignedRendererInfoList.back();
    }
    record->name = name;
  } catch (const std::exception &) {
    return ZU_UPDATE_NOT_SAVED;
  }
  record->icon = stored;
  return SaveUserSettings() ? ZU_UPDATE_STORED : ZU_UPDATE_NOT_SAVED;
}

bool ZelUtil::GetUserSetRendererName(const char *bookmark, char *name, size_t size) {
  LoadUserSettings();
  ZELUTIL_USER_ASSIGNED_RENDERER_INFO *record = find_record(bookmark);
  if (!record || !name || record->name.size() >= size) return false;
  std::memcpy(name, record->name.c_str(), record->name.size() + 1);
  return true;
}

int ZelUtil::GetUserSetRendererIcon(const char *bookmark) {
  LoadUserSettings();
  ZELUTIL_USER_ASSIGNED_RENDERER_INFO *record = find_record(bookmark);
  return record ? record->icon : -1;
}
