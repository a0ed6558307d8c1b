// The device-information file: its reader, the matching of a device against
// its entries, and the lookups of friendly names and icons.
#include <strings.h>

#include <cstring>
#include <mutex>

#include "base/upnp_log.h"
#include "media/zel_file_write.h"
#include "media/zel_util.h"

namespace {

constexpr const char *kDeviceInfoFile = "deviceinfo.xml";

// The first load may come from the host's main thread and a notifier thread
// at once; the lists are only read once loaded.
std::mutex g_load_lock;

enum Section { NONE, RENDERERS, SERVERS };

// A field line "<Name attrs>value</Name>": false when the line is no field.
bool parse_field(const std::string &line, std::string *name, std::string *attrs, std::string *value) {
  size_t open = line.find('<');
  if (open == std::string::npos || open + 1 >= line.size() || line[open + 1] == '/') return false;
  size_t close = line.find('>', open + 1);
  if (close == std::string::npos) return false;
  size_t end = line.find("</", close + 1);
  if (end == std::string::npos) return false;
  std::string head = line.substr(open + 1, close - open - 1);
  size_t blank = head.find(' ');
  *name = head.substr(0, blank);
  *attrs = blank == std::string::npos ? std::string() : head.substr(blank + 1);
  *value = line.substr(close + 1, end - close - 1);
  return !name->empty() && !value->empty();
}

// Holds when the field's text starts (starts-with flag) or is contained in
// (includes flag) the device's value, or equals it without regard to case.
bool compare(const ZELUTIL_DEVICE_MATCH_FIELD &field, const char *value) {
  if (field.startsWith && std::strncmp(value, field.value.c_str(), field.value.size()) == 0) return true;
  if (field.includes && std::strstr(value, field.value.c_str()) != nullptr) return true;
  return strcasecmp(value, field.value.c_str()) == 0;
}

bool fill_info(const ZELUTIL_DEVICE_INFO *entry, int *icon, char *name, size_t nameSize, char *iconName,
               size_t iconNameSize) {
  if (icon) *icon = -1;
  if (name && nameSize) name[0] = '\0';
  if (iconName && iconNameSize) iconName[0] = '\0';
  if (!entry) return false;
  const ZELUTIL_DEVICE_INFO_FIELD *friendly = entry->GetInfoField("FriendlyName");
  const ZELUTIL_DEVICE_INFO_FIELD *iconField = entry->GetInfoField("LumetIconName");
  if (name && nameSize && friendly) {
    size_t n = friendly->value.size() < nameSize - 1 ? friendly->value.size() : nameSize - 1;
    std::memcpy(name, friendly->value.data(), n);
    name[n] = '\0';
  }
  if (iconName && iconNameSize && iconField) {
    size_t n = iconField->value.size() < iconNameSize - 1 ? iconField->value.size() : iconNameSize - 1;
    std::memcpy(iconName, iconField->value.data(), n);
    iconName[n] = '\0';
  }
  if (icon && iconField) *icon = ZelUtil::GetIconIndex(iconField->value.c_str());
  return true;
}

}  // namespace

void ZelUtil::ParseDeviceInfo(const std::string &text, std::vector<ZELUTIL_DEVICE_INFO> *renderers,
                              std::vector<ZELUTIL_DEVICE_INFO> *servers) {
  Section section = NONE;
  bool inEntry = false;
  bool matchFields = false;
  ZELUTIL_DEVICE_INFO entry;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(pos, end - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > ZELUTIL_INFO_LINE_MAX) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "line longer than %d characters ends the file",
                    ZELUTIL_INFO_LINE_MAX);
      break;
    }
    if (line.find("<Renderers>") != std::string::npos) {
      section = RENDERERS;
    } else if (line.find("<Servers>") != std::string::npos) {
      section = SERVERS;
    } else if (line.find("<Device>") != std::string::npos) {
      entry = ZELUTIL_DEVICE_INFO();
      inEntry = true;
      matchFields = false;
    } else if (line.find("</Device>") != std::string::npos) {
      if (inEntry && section == RENDERERS) renderers->push_back(entry);
      if (inEntry && section == SERVERS) servers->push_back(entry);
      inEntry = false;
    } else if (line.find("<Match>") != std::string::npos) {
      matchFields = true;
    } else if (line.find("<Info>") != std::string::npos) {
      matchFields = false;
    } else if (inEntry) {
      std::string name, attrs, value;
      if (!parse_field(line, &name, &attrs, &value)) continue;
      if (matchFields) {
        ZELUTIL_DEVICE_MATCH_FIELD field;
        field.name = name;
        field.value = value;
        field.startsWith = attrs.find("StartsWith=\"true\"") != std::string::npos;
        field.includes = attrs.find("Includes=\"true\"") != std::string::npos;
        entry.matchFields.push_back(field);
      } else {
        entry.infoFields.push_back(ZELUTIL_DEVICE_INFO_FIELD{name, value});
      }
    }
  }
}

void ZelUtil::LoadDeviceInfoFile() {
  std::lock_guard<std::mutex> hold(g_load_lock);
  if (s_bDeviceInfoLoaded) return;
  s_bDeviceInfoLoaded = true;
  char path[4096];
  std::string text;
  if (!CreatePathToLocalFile(kDeviceInfoFile, path, sizeof path) || !zel_read_file(path, &text)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "no device-information file %s", kDeviceInfoFile);
    return;
  }
  try {
    ParseDeviceInfo(text, &s_rendererInfoList, &s_serverInfoList);
  } catch (const std::exception &) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "out of memory reading %s", path);
  }
}

const ZELUTIL_DEVICE_INFO *ZelUtil::MatchDevice(const std::vector<ZELUTIL_DEVICE_INFO> &entries,
                                                const ZELUTIL_DEVICE_IDENTITY &device, bool renderer) {
  for (const ZELUTIL_DEVICE_INFO &entry : entries) {
    const ZELUTIL_DEVICE_MATCH_FIELD *nameField = entry.GetMatchField("DeviceName");
    if (!nameField) nameField = entry.GetMatchField("ModelName");
    if (nameField && (!device.modelName || !compare(*nameField, device.modelName))) continue;
    const ZELUTIL_DEVICE_MATCH_FIELD *number = entry.GetMatchField("ModelNumber");
    if (number && (!device.modelNumber || !compare(*number, device.modelNumber))) continue;
    const ZELUTIL_DEVICE_MATCH_FIELD *maker = entry.GetMatchField("Manufacturer");
    if (maker) {
      if (!device.manufacturer || !compare(*maker, device.manufacturer)) continue;
      return &entry;
    }
    if (!renderer) return &entry;
    // A renderer entry must have checked something that held, or check
    // nothing at all; fields of other names alone match no renderer.
    if (nameField || number || entry.matchFields.empty()) return &entry;
  }
  return nullptr;
}

const ZELUTIL_DEVICE_INFO *ZelUtil::GetMatchingRendererInfo(const ZELUTIL_DEVICE_IDENTITY &renderer) {
  LoadDeviceInfoFile();
  return MatchDevice(s_rendererInfoList, renderer, true);
}

const ZELUTIL_DEVICE_INFO *ZelUtil::GetMatchingServerInfo(const ZELUTIL_DEVICE_IDENTITY &server) {
  LoadDeviceInfoFile();
  return MatchDevice(s_serverInfoList, server, false);
}

const char *ZelUtil::GetRendererInfoField(const ZELUTIL_DEVICE_IDENTITY &renderer, const char *name) {
  const ZELUTIL_DEVICE_INFO *entry = GetMatchingRendererInfo(renderer);
  const ZELUTIL_DEVICE_INFO_FIELD *field = entry ? entry->GetInfoField(name) : nullptr;
  return field ? field->value.c_str() : nullptr;
}

const char *ZelUtil::GetServerInfoField(const ZELUTIL_DEVICE_IDENTITY &server, const char *name) {
  const ZELUTIL_DEVICE_INFO *entry = GetMatchingServerInfo(server);
  const ZELUTIL_DEVICE_INFO_FIELD *field = entry ? entry->GetInfoField(name) : nullptr;
  return field ? field->value.c_str() : nullptr;
}

bool ZelUtil::GetRendererInfo(const ZELUTIL_DEVICE_IDENTITY &renderer, int *icon, char *name, size_t nameSize,
                              char *iconName, size_t iconNameSize) {
  LoadDeviceInfoFile();
  LoadUserSettings();
  return fill_info(MatchDevice(s_rendererInfoList, renderer, true), icon, name, nameSize, iconName, iconNameSize);
}

bool ZelUtil::GetServerInfo(const ZELUTIL_DEVICE_IDENTITY &server, int *icon, char *name, size_t nameSize,
                            char *iconName, size_t iconNameSize) {
  LoadDeviceInfoFile();
  LoadUserSettings();
  return fill_info(MatchDevice(s_serverInfoList, server, false), icon, name, nameSize, iconName, iconNameSize);
}
