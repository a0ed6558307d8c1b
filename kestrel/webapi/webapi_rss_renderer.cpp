// The renderer feeds: the renderer list, a renderer's queue ("/RB") and a
// single queue entry ("/RB" with "/IB").
#include <string>
#include <vector>

#include "webapi/webapi_feed.h"
#include "webapi/webapi_rss.h"

namespace {

struct entry_buffers {
  std::vector<char> metadata = std::vector<char>(WEBAPI_FEED_METADATA_SIZE);
  char name[WEBAPI_FEED_TITLE_SIZE];
  char bookmark[WEBAPI_FEED_BOOKMARK_SIZE];
  void terminate() {
    metadata.back() = '\0';
    name[sizeof name - 1] = '\0';
    bookmark[sizeof bookmark - 1] = '\0';
  }
};

// The entry's title: the queue reads its metadata by element name.
lm_nmc_result_t queue_title(const webapi_feed_source *src, uint32_t context, entry_buffers *b) {
  if (src->queue_extract_metadata(context, "Title", 0, sizeof b->name, b->name) == LM_NMC_OK) return LM_NMC_OK;
  return src->queue_extract_metadata(context, "dc:title", 0, sizeof b->name, b->name);
}

upnp_string *renderer_list(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                           const char *base_url) {
  uint32_t total = 0;
  if (src->dmrcp_get_count(context, &total) != LM_NMC_OK) return nullptr;
  webapi_feed_page page = webapi_feed_paging(request.call, total);
  upnp_string *feed = rssCreateHeader("rendererlist", static_cast<long>(total), static_cast<long>(page.returned));
  entry_buffers b;
  const uint64_t end = static_cast<uint64_t>(page.start) + page.returned;
  for (uint64_t i = page.start; feed && i < end && i < total; ++i) {
    if (src->is_terminating()) break;
    if (src->dmrcp_go_index(context, static_cast<uint32_t>(i)) != LM_NMC_OK ||
        src->dmrcp_get_metadata(context, static_cast<uint32_t>(b.metadata.size()), b.metadata.data()) != LM_NMC_OK ||
        src->dmrcp_extract_metadata(context, "friendlyName", 0, sizeof b.name, b.name) != LM_NMC_OK ||
        src->dmrcp_get_bookmark(context, sizeof b.bookmark, b.bookmark) != LM_NMC_OK) {
      break;
    }
    b.terminate();
    feed = webapi_feed_renderer_entry(feed, base_url, b.name, b.bookmark, b.metadata.data());
  }
  return webapi_feed_close(feed);
}

upnp_string *queue_entry(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                         const char *base_url) {
  if (src->queue_go_bookmark(context, request.item.c_str()) != LM_NMC_OK) return nullptr;
  entry_buffers b;
  src->queue_load_metadata(context);  // an entry added by bookmark has none until read
  if (src->queue_get_metadata(context, static_cast<uint32_t>(b.metadata.size()), b.metadata.data()) != LM_NMC_OK ||
      queue_title(src, context, &b) != LM_NMC_OK) {
    return nullptr;
  }
  b.terminate();
  upnp_string *feed = rssCreateHeader(request.item.c_str(), 1, 1);
  feed = webapi_feed_queue_single(feed, base_url, b.name, request.device, request.item, b.metadata.data());
  return webapi_feed_close(feed);
}

upnp_string *queue(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                   const char *base_url) {
  uint32_t total = 0;
  if (src->queue_get_count(context, &total) != LM_NMC_OK) return nullptr;
  webapi_feed_page page = webapi_feed_paging(request.call, total);
  upnp_string *feed =
      rssCreateHeader(request.device.c_str(), static_cast<long>(total), static_cast<long>(page.returned));
  entry_buffers b;
  const uint64_t end = static_cast<uint64_t>(page.start) + page.returned;
  for (uint64_t i = page.start; feed && i < end && i < total; ++i) {
    if (src->is_terminating()) break;
    if (src->queue_go_index(context, static_cast<uint32_t>(i)) != LM_NMC_OK ||
        (src->queue_load_metadata(context), false) ||
        src->queue_get_metadata(context, static_cast<uint32_t>(b.metadata.size()), b.metadata.data()) != LM_NMC_OK ||
        queue_title(src, context, &b) != LM_NMC_OK ||
        src->queue_get_bookmark(context, sizeof b.bookmark, b.bookmark) != LM_NMC_OK) {
      break;
    }
    b.terminate();
    feed = webapi_feed_queue_entry(feed, base_url, b.name, request.device, b.bookmark, b.metadata.data());
  }
  return webapi_feed_close(feed);
}

}  // namespace

upnp_string *webapi_feed_renderers(const webapi_feed_request &request, const char *base_url) {
  const webapi_feed_source *src = webapi_feed_source_get();
  uint32_t context = 0;
  if (src->dmrcp_create_context(&context) != LM_NMC_OK) return nullptr;
  upnp_string *feed = nullptr;
  if (!request.has_device) {
    feed = renderer_list(src, context, request, base_url);
  } else if (src->dmrcp_go_bookmark(context, request.device.c_str()) == LM_NMC_OK) {
    feed = request.has_item ? queue_entry(src, context, request, base_url) : queue(src, context, request, base_url);
  }
  src->dmrcp_delete_context(context);
  return feed;
}
