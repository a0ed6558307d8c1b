// Queue export: the queue is paged through with "BrowseQueue", each entry
// becomes an item of a playlist record of the export's own (never one of
// the store: an application playlist of the same title and type is not
// touched, and two exports of one queue never meet), whose WPL text is
// handed to the application in chunks, followed by the end call.
#include <cstring>
#include <new>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_string.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp_state.h"
#include "playlist/lm_dmrcp_wpl_internal.h"
#include "playlist/upnp_wpl_internal.h"

namespace {

const char *const kWho = "exportWpl";
constexpr uint32_t kPageSize = 10;

struct Counts {
  uint32_t audio = 0, image = 0, video = 0;
};

// An element's text, or its children written out as escaped XML; empty
// when the element is missing.
std::string fragment(upnp_xml_node *object, const char *name) {
  upnp_xml_node *node = upnp_xml_find_tag(object->children, name);
  if (node == nullptr) return std::string();
  if (node->value != nullptr) return node->value;
  if (node->children == nullptr) return std::string();
  upnp_string *xml = upnp_xml_tree_to_string_valid(node->children, 0, 0);
  std::string text = upnp_string_get_cstring(xml);
  upnp_string_free(xml);
  return text;
}

// The object's DIDL-Lite metadata from its server; empty when it cannot be
// had.
std::string server_metadata(const std::string &udn, const std::string &object_id) {
  int server = upnp_control_get_device_index(udn.c_str(), UPNP_CP_KIND_SERVER);
  if (server < 0) return std::string();
  upnp_xml_node *tree = nullptr;
  std::string metadata;
  if (upnp_control_browse_metadata(server, object_id.c_str(), "*", "", &tree) == 0) {
    const char *didl = upnp_xml_find_tag_value(tree, "Result");
    if (didl != nullptr) metadata = didl;
  }
  upnp_xml_release(tree);
  return metadata;
}

// The resource chosen without a renderer; empty for none.
std::string location_of(const std::string &metadata) {
  upnp_xml_node *res = nullptr;
  std::string location;
  if (upnp_cp_get_orig_res(metadata.c_str(), &res) == 0 && res != nullptr && res->value != nullptr)
    location = res->value;
  upnp_xml_release(res);
  return location;
}

void classify(const std::string &metadata, Counts *counts) {
  if (metadata.empty()) return;
  if (metadata.find("object.item.audioItem") != std::string::npos)
    ++counts->audio;
  else if (metadata.find("object.item.imageItem") != std::string::npos)
    ++counts->image;
  else if (metadata.find("object.item.videoItem") != std::string::npos)
    ++counts->video;
}

// One "Object" of a page as an item of the playlist; false without memory.
bool add_entry(upnp_wpl_playlist *playlist, upnp_xml_node *object, Counts *counts) {
  const std::string udn = fragment(object, "ServerUDN");
  const std::string object_id = fragment(object, "ObjectID");
  const std::string bookmark = fragment(object, "Bookmark");
  std::string metadata;
  if (!udn.empty() && !object_id.empty()) metadata = server_metadata(udn, object_id);
  std::string location = metadata.empty() ? std::string() : location_of(metadata);
  if (metadata.empty()) metadata = fragment(object, "MetaData");
  const bool server_object = !udn.empty() || !object_id.empty();
  if (location.empty() || !server_object) {
    // An entry the queue holds as a URL plays from that URL; an http
    // bookmark names its own location.
    const std::string url = fragment(object, "URL");
    if (!url.empty())
      location = url;
    else if (bookmark.find("http://") != std::string::npos)
      location = bookmark;
  }
  classify(metadata, counts);
  upnp_wpl_item *item = upnp_wpl_create_item(location.c_str());
  if (item == nullptr) return false;
  bool ok = true;
  if (!udn.empty()) ok &= upnp_wpl_add_item_attribute(item, "udn", udn.c_str()) == UPNP_WPL_OK;
  if (!object_id.empty()) ok &= upnp_wpl_add_item_attribute(item, "objectId", object_id.c_str()) == UPNP_WPL_OK;
  if (!server_object) ok &= upnp_wpl_add_item_attribute(item, "metadata", metadata.c_str()) == UPNP_WPL_OK;
  if (!bookmark.empty()) ok &= upnp_wpl_add_item_attribute(item, "bookmark", bookmark.c_str()) == UPNP_WPL_OK;
  if (!ok || !wpl_append_item(playlist, item)) {
    upnp_wpl_free_item(item);
    return false;
  }
  return true;
}

int type_of(const Counts &counts) {
  if (counts.audio >= counts.image && counts.audio >= counts.video) return UPNP_WPL_TYPE_MUSIC;
  if (counts.image < counts.video) return UPNP_WPL_TYPE_VIDEO;
  return UPNP_WPL_TYPE_PICTURES;
}

// Hands the text out in chunks; false when the callback stopped it (or the
// controller stops).
bool deliver(wpl_transfer *transfer, upnp_string *text) {
  while (text->length > 0) {
    if (wpl_transfer_stopping()) return true;
    const uint32_t count = text->length < transfer->chunk_size ? text->length : transfer->chunk_size;
    if (transfer->export_callback(transfer->context, &transfer->user_data, transfer->queue_text.c_str(),
                                  text->buffer, count) == 0)
      return false;
    upnp_string_shift_left(text, count);
  }
  return true;
}

// Pages through the queue into the playlist; none when the queue gave
// nothing or the playlist could not be made.
upnp_wpl_playlist *read_queue(wpl_transfer *transfer, Counts *counts) {
  upnp_wpl_playlist *playlist = nullptr;
  uint32_t start = 0;
  while (!wpl_transfer_stopping()) {
    nmc_dmr_reply reply;
    const uint32_t code =
        nmc_dmr_command("BrowseQueue", transfer->renderer,
                        {{"QueueID", transfer->queue_id},
                         {"StartIndex", std::to_string(start)},
                         {"RequestCount", std::to_string(kPageSize)}},
                        &reply);
    if (code != 0 || reply.tree == nullptr) break;
    if (upnp_xml_find_tag_value_uint(reply.tree->children, "NumberReturned", 0) == 0) break;
    if (playlist == nullptr) {
      playlist = wpl_new_record(transfer->queue_id.c_str(), UPNP_WPL_TYPE_MIXED, UPNP_WPL_SOURCE_CDS, "NMC",
                                nullptr);
      if (playlist == nullptr) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "exportWpl: Cannot create the playlist of queue %s",
                      transfer->queue_id.c_str());
        return nullptr;
      }
    }
    uint32_t seen = 0;
    for (upnp_xml_node *object = upnp_xml_find_tag(reply.tree->children, "Object"); object != nullptr;
         object = upnp_xml_find_next_tag(object, "Object")) {
      ++seen;
      if (!add_entry(playlist, object, counts))
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, kWho, "exportWpl: Out of memory adding entry %u", start + seen);
    }
    if (seen == 0) break;
    start += seen;
  }
  return playlist;
}

}  // namespace

void exportWpl(wpl_transfer *transfer) {
  Counts counts;
  upnp_wpl_playlist *playlist = nullptr;
  try {
    playlist = read_queue(transfer, &counts);
  } catch (const std::bad_alloc &) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "exportWpl: Out of memory reading queue %s",
                  transfer->queue_id.c_str());
  }
  bool go_on = true;
  if (playlist != nullptr) {
    playlist->type = type_of(counts);
    upnp_string *text = upnp_string_create(nullptr, 512);
    if (text != nullptr && wpl_write_text(playlist, &text, nullptr, nullptr) == UPNP_WPL_OK) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, kWho, "exportWpl: %u entries, type %d, %u bytes",
                    playlist->item_count, playlist->type, text->length);
      go_on = deliver(transfer, text);
    } else {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "exportWpl: Cannot write queue %s",
                    transfer->queue_id.c_str());
    }
    upnp_string_free(text);
    wpl_free_record(playlist);
  }
  if (go_on) transfer->export_callback(transfer->context, &transfer->user_data, transfer->queue_text.c_str(), nullptr, 0);
}
