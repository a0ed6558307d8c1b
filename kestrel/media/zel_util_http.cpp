// ZelUtil's URL loading and application launch on the platform services.
#include <cstring>

#include "base/upnp_mem.h"
#include "media/zel_platform.h"
#include "media/zel_util.h"

namespace {

bool fetch_into(char *text, char *out, int size) {
  if (text) {
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
    upnp_free_impl(text);
  }
  return true;
}

}  // namespace

bool ZelUtil::HttpGetWithin(const char *url, char *out, int size, unsigned int deadlineMs) {
  if (!out || size < 1) return false;
  out[0] = '\0';
  if (!url) return true;
  return fetch_into(MUHttpGet(url, deadlineMs), out, size);
}

bool ZelUtil::GetHttpHeaderWithin(const char *url, char *out, int size, unsigned int deadlineMs) {
  if (!out || size < 1) return false;
  out[0] = '\0';
  if (!url) return true;
  return fetch_into(MUHttpGetHeader(url, deadlineMs), out, size);
}

bool ZelUtil::HttpGet(const char *url, char *out, int size) { return HttpGetWithin(url, out, size, 0); }

bool ZelUtil::GetHttpHeader(const char *url, char *out, int size) { return GetHttpHeaderWithin(url, out, size, 0); }

bool ZelUtil::LaunchApp(const char *path) { return MULaunchApp(path); }

bool ZelUtil::LaunchLmsLite() {
  // The launcher's own result is not the caller's concern.
  LaunchApp("/Applications/lms-beam");
  return true;
}
