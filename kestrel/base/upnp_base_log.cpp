// Reporting of the portability layer: formats once, forwards to the library's
// logging entry point and to an optional observer (used by the tests).
#include "base/upnp_base_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "base/upnp_log.h"

namespace {

std::atomic<upnp_base_log_observer> g_observer{nullptr};
thread_local bool t_reporting = false;

}  // namespace

extern "C" void upnp_base_log_set_observer(upnp_base_log_observer observer) {
  g_observer.store(observer, std::memory_order_release);
}

extern "C" void upnp_base_log(int level, const char *function, const char *format, ...) {
  if (t_reporting || format == nullptr) return;
  t_reporting = true;
  char text[512];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  upnp_log_impl(level, LOG_SYSTEM, function, "%s", text);
  if (upnp_base_log_observer observer = g_observer.load(std::memory_order_acquire)) observer(level, function, text);
  t_reporting = false;
}
