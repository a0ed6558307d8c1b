// Minimal logging entry point: writes warnings and worse to standard error.
// The rotating file logger replaces this file.
#include "base/upnp_log.h"

#include <cstdarg>
#include <cstdio>

extern "C" void upnp_log_impl(int level, unsigned int source, const char *function, const char *format, ...) {
  (void)source;
  if (level < LOG_LEVEL_WARNING || format == nullptr) return;
  va_list ap;
  va_start(ap, format);
  std::fprintf(stderr, "%s%s", function ? function : "", function ? " : " : "");
  std::vfprintf(stderr, format, ap);
  std::fputc('\n', stderr);
  va_end(ap);
}
