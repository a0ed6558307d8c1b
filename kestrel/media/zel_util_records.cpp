// ZelUtil's class-wide lists and flags, the record lookups, the icon-name
// table and Cleanup.
#include <strings.h>

#include "media/zel_util.h"

const char *const ZELUTIL_RENDERER_ICON_NAMES[] = {
    "ZyXEL",          "ZyXELNoAntenna", "TV",            "SetTopBox",       "Roku",           "PhotoFrame",
    "LumetManager",   "MusicPal",       "DMP",           "Desktop",         "DesktopTower",   "Sonos90",
    "Sonos120",       "Linksys350",     "LinksysKiss1600", "LinksysREN",    "LinksysZC",      "DenonAVR3808CI",
    "DenonS52RDAX",   "TeacWAP4500",    "TeacWAP8500",   "PhilipsMCi500",   "PhilipsNP2500",  "PhilipsNP2900",
    "PhilipsNP1100",  "PhilipsWAS6050", "PhilipsWAS7500", "SamsungTV",      "iPhone",         "HPNetbook",
    "YamahaMCXP200",  "DLinkDSM210",    "PopcornHourA110", "XBMC",          "TeacWAP9500",    "TeacWAPR8900",
    "WDTVLive",       "SonosS5",        "XBox360",       nullptr};

std::vector<ZELUTIL_DEVICE_INFO> ZelUtil::s_rendererInfoList;
std::vector<ZELUTIL_DEVICE_INFO> ZelUtil::s_serverInfoList;
std::vector<ZELUTIL_USER_SETTING_INFO> ZelUtil::s_userSettingList;
std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> ZelUtil::s_userAssignedRendererInfoList;
std::vector<ZELUTIL_SITE_INFO> ZelUtil::s_siteInfoList;
bool ZelUtil::s_bDeviceInfoLoaded = false;
bool ZelUtil::s_bSiteInfoLoaded = false;
bool ZelUtil::s_bUserSettingsLoaded = false;
std::string ZelUtil::s_userSettingsUnread;

ZelUtil::~ZelUtil() = default;

const ZELUTIL_DEVICE_MATCH_FIELD *ZELUTIL_DEVICE_INFO::GetMatchField(const char *name) const {
  if (!name) return nullptr;
  for (const ZELUTIL_DEVICE_MATCH_FIELD &field : matchFields) {
    if (strcasecmp(field.name.c_str(), name) == 0) return &field;
  }
  return nullptr;
}

const ZELUTIL_DEVICE_INFO_FIELD *ZELUTIL_DEVICE_INFO::GetInfoField(const char *name) const {
  if (!name) return nullptr;
  for (const ZELUTIL_DEVICE_INFO_FIELD &field : infoFields) {
    if (strcasecmp(field.name.c_str(), name) == 0) return &field;
  }
  return nullptr;
}

int ZelUtil::GetIconIndex(const char *name) {
  if (!name) return -1;
  for (int i = 0; ZELUTIL_RENDERER_ICON_NAMES[i]; ++i) {
    if (strcasecmp(ZELUTIL_RENDERER_ICON_NAMES[i], name) == 0) return i;
  }
  return -1;
}

void ZelUtil::Cleanup() {
  // The loaded flags stay set: no file is read again after this.
  s_rendererInfoList.clear();
  s_serverInfoList.clear();
  s_userSettingList.clear();
  s_userAssignedRendererInfoList.clear();
  s_siteInfoList.clear();
}

void ZelUtil::ResetForTesting() {
  Cleanup();
  s_bDeviceInfoLoaded = false;
  s_bSiteInfoLoaded = false;
  s_bUserSettingsLoaded = false;
  s_userSettingsUnread.clear();
}
