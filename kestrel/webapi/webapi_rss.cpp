// The feed handler ("/nmc/rss"): the root feed, the server feeds and the
// renderer feeds, each as RSS, JSON or JSONP.
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "webapi/webapi_refusal.h"
#include "webapi/webapi_rss.h"

namespace {

// The text in place of a feed that cannot be built; the URI is escaped, it
// is the client's own text.
std::string processing_error(const std::string &target) {
  char *escaped = upnp_xml_escape_cond(target.c_str(), 0);
  std::string text = std::string("ERROR ON PROCESSING: ") + (escaped ? escaped : "");
  upnp_free_impl(escaped);
  return text;
}

}  // namespace

int rssRequestHandler(HTTP_connection *connection) {
  if (!connection) return 1;
  HTTP_set_no_cache(connection);
  webapi_refusal_clear();
  webapi_feed_request request;
  std::string target;
  bool readable = webapi_raw_target(connection, &target) && webapi_check_host(connection, target) == 0 &&
                  webapi_feed_parse(target, "/nmc/rss", &request);
  request.call.connection = connection;
  if (!readable) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "feed request refused (target or Host) from %s",
                  connection->peer_address);
    return send_error_message(request.call, WEBAPI_BAD_REQUEST);
  }
  if (request.call.callback_given && !request.call.callback_valid) {
    return send_error_message(request.call, WEBAPI_INVALID_ARGS);
  }
  upnp_string *feed = nullptr;
  switch (request.kind) {
    case WEBAPI_FEED_SERVER:
      feed = webapi_feed_servers(request, connection->base_url);
      break;
    case WEBAPI_FEED_RENDERER:
      feed = webapi_feed_renderers(request, connection->base_url);
      break;
    default:
      feed = webapi_feed_root(connection->base_url);
      break;
  }
  int sent;
  if (feed) {
    webapi_refusal_clear();  // a refusal on the way that the feed got round
    sent = webapi_feed_send(request.call, upnp_string_get_cstring(feed), true);
  } else {
    sent = webapi_feed_send(request.call, processing_error(target).c_str(), false);
  }
  upnp_string_free(feed);
  return sent;
}
