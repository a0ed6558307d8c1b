// The search command: a server search paged into a feed (or its JSON form).
#include <algorithm>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "webapi/webapi_controller.h"
#include "webapi/webapi_feed.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_refusal.h"
#include "webapi/webapi_rss.h"

namespace {

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hex_decode(const std::string &in, std::string *out) {
  if (in.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < in.size(); i += 2) {
    int hi = hex(in[i]);
    int lo = hex(in[i + 1]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

// Builds the feed on the context; 0 or an error code.
int build(const webapi_controller *ctl, uint32_t context, const webapi_call &call, const std::string &server,
          const std::string &criteria, int64_t start, int64_t count, upnp_string **feed) {
  if (ctl->dmscp_go_bookmark(context, server.c_str()) != LM_NMC_OK) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "search", "Bad server bookmark: %s\n", server.c_str());
    return WEBAPI_ACTION_FAILED;
  }
  std::string query;
  if (!hex_decode(criteria, &query)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "search", "Search string could not be decoded: %s\n",
                  criteria.c_str());
    return WEBAPI_ACTION_FAILED;
  }
  lm_nmc_result_t r = webapi_refusal_note(ctl->dmscp_search(context, query.c_str()), WEBAPI_SIDE_SERVER);
  if (r != LM_NMC_OK) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "search", "Search failed: %d\n", static_cast<int>(r));
    return WEBAPI_SEARCH_FAILED;
  }
  uint32_t total = 0;
  if (webapi_refusal_note(ctl->dmscp_get_count(context, &total), WEBAPI_SIDE_SERVER) != LM_NMC_OK) {
    return WEBAPI_ACTION_FAILED;
  }
  int64_t end = count > 0 ? std::min<int64_t>(start + count, total) : total;
  int64_t returned = end - start > 0 ? end - start : 0;
  *feed = rssCreateHeader("Search Results", static_cast<long>(total), static_cast<long>(returned));
  if (!*feed) return WEBAPI_OUT_OF_MEMORY;
  std::string metadata(4096, '\0');
  char title[2048];
  char bookmark[2048];
  for (int64_t i = start; i < end; ++i) {
    if (ctl->is_terminating()) break;
    const char *failure = nullptr;
    if ((r = ctl->dmscp_go_index(context, static_cast<uint32_t>(i))) != LM_NMC_OK) {
      failure = "Go to index failed: %d\n";
    } else if ((r = ctl->dmscp_get_metadata(context, static_cast<uint32_t>(metadata.size()), &metadata[0])) !=
               LM_NMC_OK) {
      failure = "Get metadata failed: %d\n";
    } else if ((r = ctl->dmscp_extract_metadata(context, "Title", 0, sizeof title, title)) != LM_NMC_OK) {
      failure = "Extract metadata failed: %d\n";
    } else if ((r = ctl->dmscp_get_bookmark(context, sizeof bookmark, bookmark)) != LM_NMC_OK) {
      failure = "Could not get bookmark: %d\n";
    }
    if (failure) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "search", failure, static_cast<int>(r));
      return WEBAPI_ACTION_FAILED;
    }
    metadata.back() = '\0';
    title[sizeof title - 1] = '\0';
    bookmark[sizeof bookmark - 1] = '\0';
    // The feeds' escaping (every byte but the unreserved ones), so that the
    // enclosure decodes back to this server and object whatever bytes their
    // bookmarks hold.
    std::string object(bookmark);
    *feed = webapi_feed_server_entry(*feed, call.connection ? call.connection->base_url : "", title, server,
                                     &object, &metadata[0]);
    if (!*feed) return WEBAPI_OUT_OF_MEMORY;
  }
  *feed = upnp_string_concat(*feed, "</channel>\n</rss>\n");
  return *feed ? 0 : WEBAPI_OUT_OF_MEMORY;
}

}  // namespace

int webapi_cmd_search(webapi_call &call) {
  std::string server;
  std::string criteria;
  if (!get_param(call, "server", &server) || !get_param(call, "search", &criteria)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  int64_t start = 0;
  if (get_param(call, "start", nullptr)) start = get_int64_param(call, "start");
  if (start < 0) start = 0;
  int64_t count = 0;
  if (get_param(call, "count", nullptr)) count = get_int64_param(call, "count");
  std::string fmt;
  bool json = get_param(call, "fmt", &fmt) && fmt == "json";
  const webapi_controller *ctl = webapi_controller_get();
  uint32_t context = 0;
  if (ctl->dmscp_create_context(&context) != LM_NMC_OK) return send_error_message(call, WEBAPI_CREATE_CONTEXT);
  upnp_string *feed = nullptr;
  int code = build(ctl, context, call, server, criteria, start, count, &feed);
  ctl->dmscp_delete_context(context);
  if (code != 0) {
    upnp_string_free(feed);
    return send_error_message(call, code);
  }
  int sent;
  if (json) {
    upnp_string *converted = rssToJSON(upnp_string_get_cstring(feed));
    sent = converted ? send_valid_upnpString(call, upnp_string_get_cstring(converted), true)
                     : send_error_message(call, WEBAPI_INTERNAL);
    upnp_string_free(converted);
  } else {
    sent = send_valid_upnpString(call, upnp_string_get_cstring(feed), false);
  }
  upnp_string_free(feed);
  return sent;
}
