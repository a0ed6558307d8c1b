#ifndef KESTREL_BASE_UPNP_LOG_H
#define KESTREL_BASE_UPNP_LOG_H

/* The library's one reporting call. Every module logs through upnp_log_impl
 * with a level and exactly one source bit. */

#ifdef __cplusplus
extern "C" {
#endif

enum upnp_log_level {
  LOG_LEVEL_DEBUG = 0,
  LOG_LEVEL_TRACE = 1,
  LOG_LEVEL_INFO = 2,
  LOG_LEVEL_WARNING = 3,
  LOG_LEVEL_ERROR = 4,
  LOG_LEVEL_CRITICAL = 5
};

enum upnp_log_source {
  LOG_SYSTEM = 1,
  LOG_SSDP = 2,
  LOG_DB = 4,
  LOG_HTTP = 8,
  LOG_CLIENT_DB = 16,
  LOG_EVENTING = 32,
  LOG_XML = 64,
  LOG_PLUGIN = 128,
  LOG_SCAN = 256,
  LOG_RMEDIA = 512,
  LOG_MEDIAFUSION = 1024,
  LOG_CGI = 2048,
  LOG_LINKPROT = 4096
};

void upnp_log_impl(int level, unsigned int source, const char *function, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

#ifdef __cplusplus
}
#endif

#endif
