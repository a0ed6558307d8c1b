// The server feeds: the server list, a server's top container ("/RB") and
// an object's container ("/RB" with "/IB"), one page of entries each.
#include <cstdlib>
#include <string>
#include <vector>

#include "webapi/webapi_feed.h"
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
  if (src->dmscp_go_directory(context) == LM_NMC_OK) return true;
  *at_object = request.has_item;
  return false;
}

// The object under the cursor as a feed of its own (an item's enclosure
// leads to the item); none when it is a container or cannot be read.
upnp_string *object_itself(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                           const char *base_url) {
  uint32_t directory = 1;
  if (src->dmscp_is_directory(context, &directory) != LM_NMC_OK || directory) return nullptr;
  std::vector<char> metadata(WEBAPI_FEED_METADATA_SIZE);
  char name[WEBAPI_FEED_TITLE_SIZE];
  if (src->dmscp_get_metadata(context, static_cast<uint32_t>(metadata.size()), metadata.data()) != LM_NMC_OK ||
      src->dmscp_extract_metadata(context, "Title", 0, sizeof name, name) != LM_NMC_OK) {
    return nullptr;
  }
  metadata.back() = '\0';
  name[sizeof name - 1] = '\0';
  upnp_string *feed = rssCreateHeader(request.item.c_str(), 1, 1);
  feed = webapi_feed_server_entry(feed, base_url, name, request.device, &request.item, metadata.data());
  return webapi_feed_close(feed);
}

upnp_string *build(const webapi_feed_source *src, uint32_t context, const webapi_feed_request &request,
                   const char *base_url) {
  std::string title;
  const char *title_key = "Title";
  bool listed = true;
  bool at_object = false;
  if (!go_there(src, context, request, &title, &title_key, &listed, &at_object)) {
    // An item is no directory: its enclosure gives the item itself.
    return at_object ? object_itself(src, context, request, base_url) : nullptr;
  }
  uint32_t total = 0;
  if (listed && src->dmscp_get_count(context, &total) != LM_NMC_OK) return nullptr;
  webapi_feed_page page = webapi_feed_paging(request.call, total);
  upnp_string *feed = rssCreateHeader(title.c_str(), static_cast<long>(total), static_cast<long>(page.returned));
  std::vector<char> metadata(WEBAPI_FEED_METADATA_SIZE);
  char name[WEBAPI_FEED_TITLE_SIZE];
  char bookmark[WEBAPI_FEED_BOOKMARK_SIZE];
  const uint64_t end = static_cast<uint64_t>(page.start) + page.returned;
  for (uint64_t i = page.start; feed && i < end && i < total; ++i) {
    if (src->is_terminating()) break;
    uint32_t directory = 0;
    // A failing entry ends the list with what is there.
    if (src->dmscp_go_index(context, static_cast<uint32_t>(i)) != LM_NMC_OK ||
        src->dmscp_get_metadata(context, static_cast<uint32_t>(metadata.size()), metadata.data()) != LM_NMC_OK ||
        src->dmscp_extract_metadata(context, title_key, 0, sizeof name, name) != LM_NMC_OK ||
        src->dmscp_get_bookmark(context, sizeof bookmark, bookmark) != LM_NMC_OK ||
        src->dmscp_is_directory(context, &directory) != LM_NMC_OK) {
      break;
    }
    metadata.back() = '\0';
    name[sizeof name - 1] = '\0';
    bookmark[sizeof bookmark - 1] = '\0';
    std::string object(bookmark);
    if (request.has_device) {
      feed = webapi_feed_server_entry(feed, base_url, name, request.device, &object, metadata.data());
    } else {
      // At the list level the entry is the server itself.
      feed = webapi_feed_server_entry(feed, base_url, name, object, nullptr, metadata.data());
    }
  }
  return webapi_feed_close(feed);
}

}  // namespace

upnp_string *webapi_feed_servers(const webapi_feed_request &request, const char *base_url) {
  const webapi_feed_source *src = webapi_feed_source_get();
  uint32_t context = 0;
  if (src->dmscp_create_context(&context) != LM_NMC_OK) return nullptr;
  // One Browse per page asked for, not one per 50 objects.
  std::string count;
  if (get_param(request.call, "count", &count)) {
    long long n = std::atoll(count.c_str());
    if (n > 0) {
      std::string command = "SetDMSItemCache " + std::to_string(n < WEBAPI_FEED_MAX_PAGE ? n : WEBAPI_FEED_MAX_PAGE);
      char answer[64];
      src->dmscp_ioctl(context, command.c_str(), sizeof answer, answer);
    }
  }
  upnp_string *feed = build(src, context, request, base_url);
  src->dmscp_delete_context(context);
  return feed;
}
