// The renderer feeds: the renderer list, a renderer's queue ("/RB") and a
// single queue entry ("/RB" with "/IB").
#include <functional>
#include <string>
#include <vector>

#include "webapi/webapi_feed.h"
#include "webapi/webapi_feed_text.h"
#include "webapi/webapi_rss.h"

namespace {

// An entry's texts, read whole however long (see webapi_feed_text.h).
struct entry_buffers {
  std::vector<char> metadata, name, bookmark;
};

using sized_call = std::function<lm_nmc_result_t(uint32_t size, char *buffer)>;

lm_nmc_result_t metadata_of(const sized_call &call, entry_buffers *b) {
  return webapi_feed_read_text(call, WEBAPI_FEED_METADATA_SIZE, WEBAPI_FEED_METADATA_MOST, &b->metadata);
}
lm_nmc_result_t name_of(const sized_call &call, entry_buffers *b) {
  return webapi_feed_read_text(call, WEBAPI_FEED_TITLE_SIZE, WEBAPI_FEED_TEXT_MOST, &b->name);
}
lm_nmc_result_t bookmark_of(const sized_call &call, entry_buffers *b) {
  return webapi_feed_read_text(call, WEBAPI_FEED_BOOKMARK_SIZE, WEBAPI_FEED_TEXT_MOST, &b->bookmark);
}

// The entry's title: the queue reads its metadata by element name.
lm_nmc_result_t queue_title(const webapi_feed_source *src, uint32_t context, entry_buffers *b) {
  for (const char *key : {"Title", "dc:title"}) {
    if (name_of([&](uint32_t n, char *out) { return src->queue_extract_metadata(context, key, 0, n, out); }, b) ==
        LM_NMC_OK) {
      return LM_NMC_OK;
    }
  }
  return LM_NMC_NO_VALUE;
}

// A queue entry's metadata (read from its server when the queue has none yet).
lm_nmc_result_t queue_metadata(const webapi_feed_source *src, uint32_t context, entry_buffers *b) {
  src->queue_load_metadata(context);
  return metadata_of([&](uint32_t n, char *out) { return src->queue_get_metadata(context, n, out); }, b);
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
        metadata_of([&](uint32_t n, char *out) { return src->dmrcp_get_metadata(context, n, out); }, &b) !=
            LM_NMC_OK ||
        name_of([&](uint32_t n, char *out) { return src->dmrcp_extract_metadata(context, "friendlyName", 0, n, out); },
                &b) != LM_NMC_OK ||
        bookmark_of([&](uint32_t n, char *out) { return src->dmrcp_get_bookmark(context, n, out); }, &b) !=
            LM_NMC_OK) {
      break;
    }
    feed = webapi_feed_renderer_entry(feed, base_url, b.name.data(), b.bookmark.data(), b.metadata.data());
  }
  return webapi_feed_close(feed);
}

upnp_string *queue_entry(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                         const char *base_url) {
  if (src->queue_go_bookmark(context, request.item.c_str()) != LM_NMC_OK) return nullptr;
  entry_buffers b;
  if (queue_metadata(src, context, &b) != LM_NMC_OK || queue_title(src, context, &b) != LM_NMC_OK) return nullptr;
  upnp_string *feed = rssCreateHeader(request.item.c_str(), 1, 1);
  feed = webapi_feed_queue_single(feed, base_url, b.name.data(), request.device, request.item, b.metadata.data());
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
    if (src->queue_go_index(context, static_cast<uint32_t>(i)) != LM_NMC_OK || queue_metadata(src, context, &b) != LM_NMC_OK ||
        queue_title(src, context, &b) != LM_NMC_OK ||
        bookmark_of([&](uint32_t n, char *out) { return src->queue_get_bookmark(context, n, out); }, &b) != LM_NMC_OK) {
      break;
    }
    feed = webapi_feed_queue_entry(feed, base_url, b.name.data(), request.device, b.bookmark.data(), b.metadata.data());
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
