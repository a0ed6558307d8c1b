// The user settings file: read once, replaced whole on every change.
#include <mutex>

#include "base/upnp_log.h"
#include "media/zel_file_write.h"
#include "media/zel_util.h"

namespace {

constexpr const char *kSettingsFile = "LumetPluginSettings.ini";

// The first load may race with a device-information lookup on a notifier
// thread (GetRendererInfo loads the settings too).
std::mutex g_load_lock;

}  // namespace

bool ZelUtil::LoadUserSettings() {
  std::lock_guard<std::mutex> hold(g_load_lock);
  if (s_bUserSettingsLoaded) return true;
  s_bUserSettingsLoaded = true;
  char path[4096];
  std::string text;
  if (!CreatePathToLMAppDataFile(kSettingsFile, path, sizeof path) || !zel_read_file(path, &text)) return false;
  try {
    size_t stop = 0;
    if (!ParseUserSettings(text, &s_userSettingList, &s_userAssignedRendererInfoList, &stop)) {
      s_userSettingsUnread = text.substr(stop);
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__,
                    "%s: %zu bytes from an over-long line on are not read; saves keep them at the end", path,
                    s_userSettingsUnread.size());
    }
  } catch (const std::exception &) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "out of memory reading %s", path);
  }
  return true;
}

bool ZelUtil::SaveUserSettings() {
  char folder[4096];
  char path[4096];
  if (!GetLMAppDataPath(folder, sizeof folder) || !CreatePathToLMAppDataFile(kSettingsFile, path, sizeof path)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "no application-data folder for %s", kSettingsFile);
    return false;
  }
  if (!zel_make_private_folder(folder)) return false;
  std::string text;
  try {
    text = FormatUserSettings(s_userSettingList, s_userAssignedRendererInfoList) + s_userSettingsUnread;
  } catch (const std::exception &) {
    return false;
  }
  if (!zel_replace_file(path, text)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "settings not saved; %s is as it was", path);
    return false;
  }
  return true;
}
