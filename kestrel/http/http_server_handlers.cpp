// The server's handler list: ordered by prefix length, longest first, and
// among equal lengths the newer first. Registrations may come while servers
// run (the web API is switched on at run time), so the list is guarded by a
// reader-writer lock instead of being read unguarded.
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "http/http_server_internal.h"

namespace {

struct Handler {
  upnp_http_handler function;
  uint32_t types;
  std::string prefix;
  bool needs_body;
  bool remote_ok;
};

std::shared_mutex g_handlers_lock;
std::vector<Handler> g_handlers;

}  // namespace

http_handler_match http_find_handler(uint32_t type, const char *path) {
  std::shared_lock<std::shared_mutex> hold(g_handlers_lock);
  for (const Handler &h : g_handlers) {
    if ((h.types & type) == 0) continue;
    if (std::strncmp(path, h.prefix.c_str(), h.prefix.size()) == 0) return {h.function, h.needs_body};
  }
  return {nullptr, false};
}

extern "C" int upnp_http_register_handler(upnp_http_handler function, uint32_t types, const char *prefix,
                                          int needs_body, int remote_ok) {
  if (!function || !prefix) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Missing handler function for URL %s",
                  prefix ? prefix : "(null)");
    return 1;
  }
  if (std::strlen(prefix) > HTTP_SERVER_MAX_PREFIX) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "URL to int32_t for registration %s", prefix);
    return 1;
  }
  std::unique_lock<std::shared_mutex> hold(g_handlers_lock);
  for (const Handler &h : g_handlers) {
    if ((h.types & types) != 0 && h.prefix == prefix) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "handler already registered for URL %s", prefix);
      return 1;
    }
  }
  Handler entry{function, types, prefix, needs_body != 0, remote_ok != 0};
  auto at = g_handlers.begin();
  while (at != g_handlers.end() && at->prefix.size() > entry.prefix.size()) ++at;
  g_handlers.insert(at, std::move(entry));
  return 0;
}

extern "C" int upnp_http_handler_is_registered(upnp_http_handler function) {
  std::shared_lock<std::shared_mutex> hold(g_handlers_lock);
  for (const Handler &h : g_handlers) {
    if (h.function == function) return 1;
  }
  return 0;
}

extern "C" void http_unregister_all_handlers(void) {
  std::unique_lock<std::shared_mutex> hold(g_handlers_lock);
  g_handlers.clear();
}
