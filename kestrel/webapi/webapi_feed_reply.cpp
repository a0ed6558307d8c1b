// The output forms of a feed: RSS, its JSON form (fmt=json), and JSONP
// (callback) with a Base64 text or the JSON itself.
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "webapi/webapi_feed.h"
#include "webapi/webapi_rss.h"

namespace {

const char kRssType[] = "text/xml; charset=utf-8";
const char kJsonType[] = "application/json; charset=utf-8";
const char kTextType[] = "text/plain; charset=utf-8";
const char kScriptType[] = "application/javascript; charset=utf-8";

std::string base64(const char *text, size_t size) {
  upnp_string *encoded = upnp_string_to_base64(text, size);
  std::string out = upnp_string_get_cstring(encoded);
  upnp_string_free(encoded);
  return out;
}

}  // namespace

int webapi_feed_send(webapi_call &call, const char *text, bool is_feed) {
  std::string fmt;
  bool json = is_feed && get_param(call, "fmt", &fmt) && fmt == "json";
  // The feed is sent from where it was written (a page of 500 entries is
  // most of a megabyte).
  if (!text) text = "";
  const size_t size = std::strlen(text);
  if (json) {
    upnp_string *converted = rssToJSON(text);
    if (!converted) return send_error_message(call, WEBAPI_INTERNAL);
    std::string body = upnp_string_get_cstring(converted);
    upnp_string_free(converted);
    // JSON is a script expression already; the RPC reply escapes what a
    // script element would end on.
    if (call.callback_valid) return send_valid_upnpString(call, body, true);
    return webapi_send_body(call, 200, kJsonType, body);
  }
  if (call.callback_valid) {
    return webapi_send_body(call, 200, kScriptType, call.callback + "(\"" + base64(text, size) + "\");\n");
  }
  return webapi_send_body(call, 200, is_feed ? kRssType : kTextType, text, size);
}
