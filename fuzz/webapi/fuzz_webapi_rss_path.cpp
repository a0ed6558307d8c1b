// Feed targets through the "/RB"/"/IB" reader: any target either is refused
// or names a feed whose bookmarks, escaped the way the feeds escape them,
// read back as the very same bytes; a page never runs past its total or the
// bound. Anything else aborts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/upnp_mem.h"
#include "webapi/webapi_rss.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (upnp_mem_init(), true);
  (void)ready;
  if (size > WEBAPI_MAX_TARGET) return 0;
  std::string target(reinterpret_cast<const char *>(data), size);
  webapi_feed_request request;
  if (!webapi_feed_parse(target, "/nmc/rss", &request)) return 0;
  if (request.kind != WEBAPI_FEED_ROOT && request.has_device) {
    std::string again = std::string(request.kind == WEBAPI_FEED_SERVER ? "/nmc/rss/server" : "/nmc/rss/renderer") +
                        "/RB" + webapi_feed_escape(request.device);
    if (request.has_item) again += "/IB" + webapi_feed_escape(request.item);
    webapi_feed_request back;
    if (!webapi_feed_parse(again, "/nmc/rss", &back)) std::abort();
    if (back.kind != request.kind || back.device != request.device || back.has_item != request.has_item ||
        back.item != request.item) {
      std::abort();
    }
  }
  for (uint32_t total : {0u, 7u, 4294967295u}) {
    webapi_feed_page page = webapi_feed_paging(request.call, total);
    if (page.returned > WEBAPI_FEED_MAX_PAGE) std::abort();
    if (page.returned && static_cast<uint64_t>(page.start) + page.returned > total) std::abort();
  }
  return 0;
}
