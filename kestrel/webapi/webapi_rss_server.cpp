// The server feeds: the server list, a server's top container ("/RB") and
// an object's container ("/RB" with "/IB"), one page of entries each.
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "webapi/webapi_feed.h"
#include "webapi/webapi_feed_ahead.h"
#include "webapi/webapi_feed_text.h"
#include "webapi/webapi_refusal.h"
#include "webapi/webapi_rss.h"

namespace {

// Moves the context where the request points; the feed title and the
// metadata key of the entries' titles. false when it cannot go there;
// *at_object then says whether the cursor reached the object, which is no
// directory.
bool go_there(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
              std::string *title, const char **title_key, bool *listed, bool *at_object) {
  *listed = true;
  *at_object = false;
  if (!request.has_device) {
    *title = "serverlist";
    *title_key = "friendlyName";
    // Without the list, the feed is an empty one.
    *listed = src->dmscp_go_home(context) == LM_NMC_OK;
    return true;
  }
  *title_key = "Title";
  if (src->dmscp_go_bookmark(context, request.device.c_str()) != LM_NMC_OK) return false;
  if (request.has_item) {
    if (src->dmscp_go_bookmark(context, request.item.c_str()) != LM_NMC_OK) return false;
    *title = request.item;
  } else {
    *title = request.device;
  }
  if (webapi_refusal_note(src->dmscp_go_directory(context), WEBAPI_SIDE_SERVER) == LM_NMC_OK) return true;
  *at_object = request.has_item;
  return false;
}

// An object's texts, read whole however long (see webapi_feed_text.h).
struct Texts {
  std::vector<char> metadata, name, bookmark;
};

lm_nmc_result_t read_metadata_and_title(const webapi_feed_source *src, uint32_t context, const char *title_key,
                                        Texts *t) {
  lm_nmc_result_t result = webapi_feed_read_text(
      [&](uint32_t size, char *buffer) { return src->dmscp_get_metadata(context, size, buffer); },
      WEBAPI_FEED_METADATA_SIZE, WEBAPI_FEED_METADATA_MOST, &t->metadata);
  if (result != LM_NMC_OK) return result;
  return webapi_feed_read_text(
      [&](uint32_t size, char *buffer) { return src->dmscp_extract_metadata(context, title_key, 0, size, buffer); },
      WEBAPI_FEED_TITLE_SIZE, WEBAPI_FEED_TEXT_MOST, &t->name);
}

// The object under the cursor as a feed of its own (an item's enclosure
// leads to the item); none when it is a container or cannot be read.
upnp_string *object_itself(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                           const char *base_url) {
  uint32_t directory = 1;
  if (src->dmscp_is_directory(context, &directory) != LM_NMC_OK || directory) return nullptr;
  Texts t;
  if (read_metadata_and_title(src, context, "Title", &t) != LM_NMC_OK) return nullptr;
  upnp_string *feed = rssCreateHeader(request.item.c_str(), 1, 1);
  feed = webapi_feed_server_entry(feed, base_url, t.name.data(), request.device, &request.item, t.metadata.data());
  return webapi_feed_close(feed);
}

// Where a context stands: the container a feed lists, its title and the
// metadata key of its entries' titles.
struct Place {
  std::string title;
  const char *title_key = "Title";
  bool listed = true;
};

// The entries of a page read one pass each (the source reads an entry
// under one hold of the context), added to the feed.
upnp_string *page_entries(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                          const char *base_url, const char *title_key, const webapi_feed_page &page, uint32_t total,
                          upnp_string *feed) {
  const nmc_dms_entry_sizes sizes{WEBAPI_FEED_METADATA_MOST, WEBAPI_FEED_TEXT_MOST, WEBAPI_FEED_TEXT_MOST};
  nmc_dms_entry entry;
  const uint64_t end = static_cast<uint64_t>(page.start) + page.returned;
  // The next page of the walk is asked for while this one is written and
  // sent: when this page was read ahead (a walk under way) at once, so that
  // it follows this one at the server; else once this page is in.
  bool ahead = end >= total || src->dmscp_ahead_begin == nullptr;
  if (!ahead) ahead = webapi_feed_ahead_post(src->dmscp_ahead_begin(context, static_cast<uint32_t>(end), page.start));
  for (uint64_t i = page.start; feed && i < end && i < total; ++i) {
    if (src->is_terminating()) break;
    // A failing entry ends the list with what is there.
    if (src->dmscp_read_entry(context, static_cast<uint32_t>(i), title_key, sizes, &entry) != LM_NMC_OK) break;
    if (!ahead) {
      ahead = true;
      webapi_feed_ahead_post(src->dmscp_ahead_begin(context, static_cast<uint32_t>(end), NMC_DMS_AHEAD_ANY));
    }
    char *metadata = entry.metadata->buffer;
    if (request.has_device) {
      feed = webapi_feed_server_entry(feed, base_url, entry.title.c_str(), request.device, &entry.bookmark, metadata);
    } else {
      // At the list level the entry is the server itself.
      feed = webapi_feed_server_entry(feed, base_url, entry.title.c_str(), entry.bookmark, nullptr, metadata);
    }
  }
  upnp_string_free(entry.metadata);
  return feed;
}

// The entries of the container the context stands in, one page.
upnp_string *list_page(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                       const char *base_url, const Place &place) {
  const std::string &title = place.title;
  const char *title_key = place.title_key;
  const bool listed = place.listed;
  uint32_t total = 0;
  if (listed && webapi_refusal_note(src->dmscp_get_count(context, &total), WEBAPI_SIDE_SERVER) != LM_NMC_OK) {
    return nullptr;
  }
  webapi_feed_page page = webapi_feed_paging(request.call, total);
  upnp_string *feed = rssCreateHeader(title.c_str(), static_cast<long>(total), static_cast<long>(page.returned));
  if (src->dmscp_read_entry != nullptr) {
    return webapi_feed_close(page_entries(src, context, request, base_url, title_key, page, total, feed));
  }
  Texts t;
  const uint64_t end = static_cast<uint64_t>(page.start) + page.returned;
  for (uint64_t i = page.start; feed && i < end && i < total; ++i) {
    if (src->is_terminating()) break;
    uint32_t directory = 0;
    // A failing entry ends the list with what is there.
    if (src->dmscp_go_index(context, static_cast<uint32_t>(i)) != LM_NMC_OK ||
        read_metadata_and_title(src, context, title_key, &t) != LM_NMC_OK ||
        webapi_feed_read_text([&](uint32_t size, char *buffer) { return src->dmscp_get_bookmark(context, size, buffer); },
                              WEBAPI_FEED_BOOKMARK_SIZE, WEBAPI_FEED_TEXT_MOST, &t.bookmark) != LM_NMC_OK ||
        src->dmscp_is_directory(context, &directory) != LM_NMC_OK) {
      break;
    }
    std::string object(t.bookmark.data());
    if (request.has_device) {
      feed = webapi_feed_server_entry(feed, base_url, t.name.data(), request.device, &object, t.metadata.data());
    } else {
      // At the list level the entry is the server itself.
      feed = webapi_feed_server_entry(feed, base_url, t.name.data(), object, nullptr, t.metadata.data());
    }
  }
  return webapi_feed_close(feed);
}

// Contexts kept between requests for the containers last listed, so that
// the next page of a container costs one Browse, not the walk to it again.
// A context is taken out while a request uses it (requests run on their own
// threads); kept ones are dropped after kKeepMs unused, beyond kKeep, and
// when the feeds are released. g_kept_lock guards the list.
struct Kept {
  std::string key;
  uint32_t context;
  Place place;
  uint64_t used_ms;
};
constexpr size_t kKeep = 8;
constexpr uint64_t kKeepMs = 10000;
std::mutex g_kept_lock;
std::vector<Kept> g_kept;
// Counts the releases: a context taken before one (the controller released
// it at its stop) is neither kept nor deleted after it.
uint64_t g_generation = 0;

uint64_t generation() {
  std::lock_guard<std::mutex> hold(g_kept_lock);
  return g_generation;
}

uint64_t now_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Takes the kept context of `key` (false when none); *stale gets the
// contexts that were kept too long, for the caller to delete.
bool take_kept(const std::string &key, Kept *out, std::vector<uint32_t> *stale) {
  std::lock_guard<std::mutex> hold(g_kept_lock);
  const uint64_t now = now_ms();
  bool found = false;
  for (auto it = g_kept.begin(); it != g_kept.end();) {
    if (!found && it->key == key) {
      *out = *it;
      found = true;
      it = g_kept.erase(it);
    } else if (now - it->used_ms > kKeepMs) {
      stale->push_back(it->context);
      it = g_kept.erase(it);
    } else {
      ++it;
    }
  }
  return found;
}

// Keeps a context for its key; *dropped gets one pushed out by the bound.
void keep(Kept kept, uint64_t taken_in, std::vector<uint32_t> *dropped) {
  std::lock_guard<std::mutex> hold(g_kept_lock);
  if (taken_in != g_generation) return;
  kept.used_ms = now_ms();
  g_kept.push_back(kept);
  if (g_kept.size() > kKeep) {
    dropped->push_back(g_kept.front().context);
    g_kept.erase(g_kept.begin());
  }
}

void delete_all(const webapi_feed_source *src, const std::vector<uint32_t> &contexts) {
  for (uint32_t context : contexts) src->dmscp_delete_context(context);
}

}  // namespace

upnp_string *webapi_feed_servers(const webapi_feed_request &request, const char *base_url) {
  const webapi_feed_source *src = webapi_feed_source_get();
  std::string count;
  long long n = get_param(request.call, "count", &count) ? std::atoll(count.c_str()) : 0;
  if (n > WEBAPI_FEED_MAX_PAGE) n = WEBAPI_FEED_MAX_PAGE;
  // A container's pages share a context; the server list is not kept.
  const std::string key = request.has_device ? request.device + '\x1f' + (request.has_item ? request.item : "") +
                                                   '\x1f' + std::to_string(n)
                                             : std::string();
  const uint64_t taken_in = generation();
  std::vector<uint32_t> stale;
  Kept kept;
  if (!key.empty() && take_kept(key, &kept, &stale)) {
    delete_all(src, stale);
    stale.clear();
    upnp_string *feed = list_page(src, kept.context, request, base_url, kept.place);
    std::vector<uint32_t> dropped;
    if (feed != nullptr) {
      keep(kept, taken_in, &dropped);
      delete_all(src, dropped);
      return feed;
    }
    // The kept context no longer serves (its server went away, say): the
    // walk is made afresh.
    src->dmscp_delete_context(kept.context);
  }
  delete_all(src, stale);
  uint32_t context = 0;
  if (src->dmscp_create_context(&context) != LM_NMC_OK) return nullptr;
  // One Browse per page asked for, not one per 50 objects.
  if (n > 0) {
    std::string command = "SetDMSItemCache " + std::to_string(n);
    char answer[64];
    src->dmscp_ioctl(context, command.c_str(), sizeof answer, answer);
  }
  Place place;
  bool at_object = false;
  upnp_string *feed = nullptr;
  if (go_there(src, context, request, &place.title, &place.title_key, &place.listed, &at_object)) {
    feed = list_page(src, context, request, base_url, place);
    if (feed != nullptr && !key.empty()) {
      std::vector<uint32_t> dropped;
      keep(Kept{key, context, place, 0}, taken_in, &dropped);
      delete_all(src, dropped);
      return feed;
    }
  } else if (at_object) {
    // An item is no directory: its enclosure gives the item itself.
    feed = object_itself(src, context, request, base_url);
  }
  src->dmscp_delete_context(context);
  return feed;
}

void webapi_feed_servers_forget(void) {
  std::vector<uint32_t> all;
  {
    std::lock_guard<std::mutex> hold(g_kept_lock);
    for (const Kept &k : g_kept) all.push_back(k.context);
    g_kept.clear();
    ++g_generation;
  }
  webapi_feed_ahead_stop();
  delete_all(webapi_feed_source_get(), all);
}
