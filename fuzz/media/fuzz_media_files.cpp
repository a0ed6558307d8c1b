// The three file readers of ZelUtil on arbitrary text. The device entries
// read are matched against a device named by the input's own lines; settings
// read whole are written again, and that text must read back to the same
// text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_util.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      std::vector<ZELUTIL_DEVICE_INFO> renderers, servers;
      ZelUtil::ParseDeviceInfo(text, &renderers, &servers);
      // The device: the first three lines of the input.
      std::vector<std::string> lines(3);
      size_t pos = 0;
      for (std::string &line : lines) {
        size_t nl = text.find('\n', pos);
        line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
      }
      ZELUTIL_DEVICE_IDENTITY device;
      device.modelName = lines[0].c_str();
      device.modelNumber = lines[1].empty() ? nullptr : lines[1].c_str();
      device.manufacturer = lines[2].c_str();
      for (bool renderer : {true, false}) {
        const ZELUTIL_DEVICE_INFO *entry = ZelUtil::MatchDevice(renderer ? renderers : servers, device, renderer);
        if (entry) {
          const ZELUTIL_DEVICE_INFO_FIELD *icon = entry->GetInfoField("LumetIconName");
          int index = ZelUtil::GetIconIndex(icon ? icon->value.c_str() : nullptr);
          if (index < -1 || index >= ZELUTIL_RENDERER_ICON_COUNT) std::abort();
        }
      }
      break;
    }
    case 1: {
      std::vector<ZELUTIL_SITE_INFO> sites;
      ZelUtil::ParseSiteInfo(text, &sites);
      for (const ZELUTIL_SITE_INFO &site : sites) {
        if (site.urlPrefix.empty() || site.mediaType > MT_ANY) std::abort();
      }
      break;
    }
    default: {
      std::vector<ZELUTIL_USER_SETTING_INFO> settings;
      std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> records;
      ZelUtil::ParseUserSettings(text, &settings, &records);
      const std::string written = ZelUtil::FormatUserSettings(settings, records);
      std::vector<ZELUTIL_USER_SETTING_INFO> settings2;
      std::vector<ZELUTIL_USER_ASSIGNED_RENDERER_INFO> records2;
      if (ZelUtil::ParseUserSettings(written, &settings2, &records2) &&
          ZelUtil::FormatUserSettings(settings2, records2) != written) {
        std::abort();
      }
      break;
    }
  }
  return 0;
}
