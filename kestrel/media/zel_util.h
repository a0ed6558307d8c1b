#ifndef KESTREL_MEDIA_ZEL_UTIL_H
#define KESTREL_MEDIA_ZEL_UTIL_H

/* ZelUtil: the class-wide services of the media object model. The device-
 * information file ("deviceinfo.xml", beside the library) gives known servers
 * and renderers a friendly name and an icon; the site-information file
 * ("siteinfo.xml", beside the library) tells which media type a web site
 * delivers; the user settings file ("LumetPluginSettings.ini" in the
 * application-data folder) keeps program options and the names and icons the
 * user gave to renderers. Each file is read once, on first use, and kept until
 * Cleanup. Paths, URL loading, folder listing and the launcher sit on the
 * platform services of zel_platform.h. */

#include <stddef.h>
#include <time.h>

#include <string>
#include <vector>

#include "media/zel_media_types.h"

/* One field of a device-information entry that must match the device. */
struct ZELUTIL_DEVICE_MATCH_FIELD {
  std::string name;
  std::string value;
  bool startsWith = false;
  bool includes = false;
};

/* One field an entry gives a matching device ("FriendlyName", "LumetIconName"). */
struct ZELUTIL_DEVICE_INFO_FIELD {
  std::string name;
  std::string value;
};

/* One entry of the device-information file. */
struct ZELUTIL_DEVICE_INFO {
  std::vector<ZELUTIL_DEVICE_MATCH_FIELD> matchFields;
  std::vector<ZELUTIL_DEVICE_INFO_FIELD> infoFields;
  /* The first field of that name (without regard to case), or none. */
  const ZELUTIL_DEVICE_MATCH_FIELD *GetMatchField(const char *name) const;
  const ZELUTIL_DEVICE_INFO_FIELD *GetInfoField(const char *name) const;
};

struct ZELUTIL_USER_SETTING_INFO {
  std::string name;
  std::string value;
};

struct ZELUTIL_USER_ASSIGNED_RENDERER_INFO {
  std::string rendererBookmark;
  std::string name;
  int icon = -1; /* -1: none */
};

struct ZELUTIL_SITE_INFO {
  std::string urlPrefix;
  MEDIA_ITEM_TYPE mediaType = MT_ANY;
};

/* What a device reports of itself, as the matching needs it (texts from its
 * description; none when it reports none). */
struct ZELUTIL_DEVICE_IDENTITY {
  const char *modelName = nullptr;
  const char *modelNumber = nullptr;
  const char *manufacturer = nullptr;
};

/* Outcome of a settings change. */
enum ZELUTIL_UPDATE_RESULT {
  ZU_UPDATE_STORED = 0,    /* stored and saved, or nothing to change */
  ZU_UPDATE_REFUSED = 1,   /* the text cannot be stored safely; nothing changed */
  ZU_UPDATE_NOT_SAVED = 2  /* changed in memory, but the file could not be written (the old one is whole) */
};

/* Null-terminated table of icon names; an icon index is a row's position. */
extern const char *const ZELUTIL_RENDERER_ICON_NAMES[];
#define ZELUTIL_RENDERER_ICON_COUNT 39

/* Longest line of the device- and site-information files, and of the
 * settings file (characters, the line end not counted). */
#define ZELUTIL_INFO_LINE_MAX 299
#define ZELUTIL_SETTINGS_LINE_MAX 199

class ZelUtil {
 public:
  virtual ~ZelUtil();

  /* Device information. */
  static void LoadDeviceInfoFile();
  static const ZELUTIL_DEVICE_INFO *GetMatchingRendererInfo(const ZELUTIL_DEVICE_IDENTITY &renderer);
  static const ZELUTIL_DEVICE_INFO *GetMatchingServerInfo(const ZELUTIL_DEVICE_IDENTITY &server);
  static const char *GetRendererInfoField(const ZELUTIL_DEVICE_IDENTITY &renderer, const char *name);
  static const char *GetServerInfoField(const ZELUTIL_DEVICE_IDENTITY &server, const char *name);
  static bool GetRendererInfo(const ZELUTIL_DEVICE_IDENTITY &renderer, int *icon, char *name, size_t nameSize,
                              char *iconName, size_t iconNameSize);
  static bool GetServerInfo(const ZELUTIL_DEVICE_IDENTITY &server, int *icon, char *name, size_t nameSize,
                            char *iconName, size_t iconNameSize);
  static int GetIconIndex(const char *name);
  /* Reads device-information text into entries (what LoadDeviceInfoFile
   * does with the file). */
  static void ParseDeviceInfo(const std::string &text, std::vector<ZELUTIL_DEVICE_INFO> *renderers,
                              std::vector<ZELUTIL_DEVICE_INFO> *servers);
  static const ZELUTIL_DEVICE_INFO *MatchDevice(const std::vector<ZELUTIL_DEVICE_INFO> &entries,
                                                const ZELUTIL_DEVICE_IDENTITY &device, bool renderer);

  /* Sites. */
  static void LoadSiteInfoFile();
  static MEDIA_ITEM_TYPE GetMediaTypeForSite(const char *url);
  static void ParseSiteInfo(const std::string &text, std::vector<ZELUTIL_SITE_INFO> *sites);

  /* User settings. */
  static bool LoadUserSettings();
  static const char *GetSettingValue(const char *name);
  static bool GetSettingValueAsInt(const char *name, int *value);
  static bool GetSettingValueAsBool(const char *name, bool *value);
  static ZELUTIL_UPDATE_RESULT UpdateSettingValue(const char *name, const char *text);
  static ZELUTIL_UPDATE_RESULT UpdateSettingValue(const char *name, int value);
  static ZELUTIL_UPDATE_RESULT UpdateSettingValue(const char *name, bool value);
  static ZELUTIL_UPDATE_RESULT UpdateRendererProperties(const char *bookmark, const char *name, int icon);
  static bool GetUserSetRendererName(const char *bookmark, char *name, size_t size);
  static int GetUserSetRendererIcon(const char *bookmark);
  static bool SaveUserSettings();
  /* Reads settings text; false when an over-long line ended the reading,
   * whose position (its first byte) then goes to *stop when given. */
  static bool ParseUserSettings(const std::string &text, std::vector<ZELUTIL_USER_SETTING_INFO> *settings,
                                std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> *renderers,
                                size_t *stop = nullptr);
  /* The settings file's text for the lists. */
  static std::string FormatUserSettings(const std::vector<ZELUTIL_USER_SETTING_INFO> &settings,
                                        const std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> &renderers);

  /* Paths and platform. */
  static bool GetLMAppDataPath(char *out, size_t size);
  static bool CreatePathToLMAppDataFile(const char *name, char *out, size_t size);
  static bool CreatePathToLocalFile(const char *name, char *out, size_t size);
  static char **GetFilesFromFolder(const char *path);
  static bool HttpGet(const char *url, char *out, int size);
  static bool GetHttpHeader(const char *url, char *out, int size);
  /* As HttpGet and GetHttpHeader with a deadline of deadlineMs (at most the
   * platform's 10 seconds). */
  static bool HttpGetWithin(const char *url, char *out, int size, unsigned int deadlineMs);
  static bool GetHttpHeaderWithin(const char *url, char *out, int size, unsigned int deadlineMs);
  static bool LaunchLmsLite();
  static bool LaunchApp(const char *path);
  /* The local calendar time of now, with day, month and year taken from the
   * Date header of the configured date server when it answers. */
  static struct tm GetCurrentDate();
  /* Applies the Date field of header text (as GetHttpHeader gives it) to
   * date; false (date unchanged) when the text holds no usable date. */
  static bool ApplyHeaderDate(const char *headerText, struct tm *date);
  static void Cleanup();

  /* Class-wide state. */
  static std::vector<ZELUTIL_DEVICE_INFO> s_rendererInfoList;
  static std::vector<ZELUTIL_DEVICE_INFO> s_serverInfoList;
  static std::vector<ZELUTIL_USER_SETTING_INFO> s_userSettingList;
  static std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> s_userAssignedRendererInfoList;
  static std::vector<ZELUTIL_SITE_INFO> s_siteInfoList;
  static bool s_bDeviceInfoLoaded;
  static bool s_bSiteInfoLoaded;
  static bool s_bUserSettingsLoaded;
  /* What the settings file held from an over-long line on (its reading
   * stopped there): every save writes it back after the lines of the lists,
   * so a save never cuts the file short. Empty for a file read whole. */
  static std::string s_userSettingsUnread;

  /* For tests: forget every list and loaded flag, so the files are read again. */
  static void ResetForTesting();
};

#endif
