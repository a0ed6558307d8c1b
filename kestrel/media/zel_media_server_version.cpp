// Whether a server runs here, and its version: fetched from "/rpc/version"
// under its base URL once per server object, within a deadline, and kept.
#include <stdio.h>
#include <strings.h>

#include <string>

#include "base/upnp_log.h"
#include "media/zel_device_text.h"
#include "media/zel_media_server.h"
#include "media/zel_util.h"
#include "nmc/lm_dmscp.h"

bool ZelMediaServer2::IsLocalServer() {
  char flag[64] = {0};
  if (lm_dmscp_extract_metadata(m_context, "isLocalDevice", 0, sizeof flag, flag) != LM_NMC_OK) return false;
  flag[sizeof flag - 1] = '\0';
  return strcasecmp(flag, "true") == 0;
}

bool ZelMediaServer2::GetVersionString(char *out, int size) {
  if (out == nullptr || size < 1) return false;
  out[0] = '\0';
  std::lock_guard<std::mutex> guard(m_versionLock);
  if (!m_versionFetched) {
    m_versionFetched = true;
    std::string base;
    if (ZelReadContextText(lm_dmscp_extract_metadata, m_context, "baseURL", &base) && !base.empty()) {
      while (!base.empty() && base.back() == '/') base.pop_back();
      std::string url = base + "/rpc/version";
      char text[100] = {0};
      m_versionRead = ZelUtil::HttpGetWithin(url.c_str(), text, sizeof text, ZEL_VERSION_FETCH_MS);
      if (m_versionRead) m_version = text;
      else upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "no version from %s", url.c_str());
    }
  }
  snprintf(out, static_cast<size_t>(size), "%s", m_version.c_str());
  return m_versionRead;
}

bool ZelMediaServer2::GetVersion(int *major, int *minor) {
  char text[50] = {0};
  if (!GetVersionString(text, sizeof text)) return false;
  int a = 0, b = 0;
  if (sscanf(text, "%d.%d", &a, &b) != 2) return false;
  if (major != nullptr) *major = a;
  if (minor != nullptr) *minor = b;
  return true;
}
