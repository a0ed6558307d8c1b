// Registration of the feed and page handlers with the HTTP server.
#include "base/upnp_log.h"
#include "webapi/webapi_rss.h"

void lm_nmc_http_rss_init(void) {
  if (!upnp_http_handler_is_registered(rssRequestHandler)) {
    upnp_http_register_handler(rssRequestHandler, 1u | 2u, "/nmc/rss", 1, 1);
  }
  if (!upnp_http_handler_is_registered(webRequestHandler)) {
    upnp_http_register_handler(webRequestHandler, 1u | 2u, "/nmc/web", 1, 1);
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "web API feeds on /nmc/rss, page on /nmc/web");
}

// The handlers stay with the HTTP server, which drops them at its exit; the
// contexts kept for the next pages go.
void lm_nmc_http_rss_release(void) { webapi_feed_servers_forget(); }
