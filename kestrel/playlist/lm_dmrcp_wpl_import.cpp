// Queue import ("importWpl"): the WPL text is pulled from the application in
// chunks, parsed into a playlist record of the import's own (never one of
// the store, so an application playlist of the same title and type stays
// untouched), and each item is added after the queue cursor.
#include <cstring>
#include <new>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "nmc/lm_queue.h"
#include "playlist/lm_dmrcp_wpl_internal.h"
#include "playlist/upnp_wpl_internal.h"

namespace {

const char *const kWho = "importWpl";

// The whole text: 0, 8 without memory, 10 for a chunk longer than asked
// for or a text above LM_DMRCP_WPL_MAX_TEXT, 11 when the controller stops.
lm_nmc_result_t read_text(wpl_transfer *transfer, std::string *text) {
  char *buffer = static_cast<char *>(upnp_malloc_impl(transfer->chunk_size));
  bool reserved = true;
  try {
    text->reserve(1024);
  } catch (const std::bad_alloc &) {
    reserved = false;
  }
  if (buffer == nullptr || !reserved) {
    upnp_free_impl(buffer);
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Out of memory creating initial buffers");
    return LM_NMC_OUT_OF_MEMORY;
  }
  lm_nmc_result_t result = LM_NMC_OK;
  for (;;) {
    if (wpl_transfer_stopping()) {
      result = LM_NMC_GOING_DOWN;
      break;
    }
    // Cleared each time: a callback that forgets to set it delivers nothing.
    uint32_t length = 0;
    const int more = transfer->import_callback(transfer->context, &transfer->user_data, transfer->chunk_size,
                                               buffer, &length);
    if (length > transfer->chunk_size) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, kWho, "importWpl: Chunk of %u bytes in a buffer of %u", length,
                    transfer->chunk_size);
      result = LM_NMC_BUFFER_TOO_SMALL;
      break;
    }
    if (length == 0) break;
    if (text->size() + length > LM_DMRCP_WPL_MAX_TEXT) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, kWho, "importWpl: Playlist text above %u bytes",
                    LM_DMRCP_WPL_MAX_TEXT);
      result = LM_NMC_BUFFER_TOO_SMALL;
      break;
    }
    try {
      text->append(buffer, length);
    } catch (const std::bad_alloc &) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, kWho, "Out of memory appending playlist chunk %u bytes", length);
      result = LM_NMC_OUT_OF_MEMORY;
      break;
    }
    if (more == 0) break;
  }
  upnp_free_impl(buffer);
  return result;
}

// Adds one item after the cursor: the result, 2 for a text that is neither
// an http URL nor names a server object.
lm_nmc_result_t add_item(uint32_t context, const upnp_wpl_item *item) {
  char *bookmark = upnp_wpl_get_item_attribute(item, "bookmark");
  const char *text = bookmark != nullptr ? bookmark : (item->src != nullptr ? item->src : "");
  lm_nmc_result_t result = LM_NMC_INVALID_PARAMETER;
  if (std::strstr(text, "http://") != nullptr) {
    // The URL doubles as the entry's bookmark.
    char *metadata = upnp_wpl_get_item_attribute(item, "metadata");
    result = lm_queue_add_metadata(context, text, metadata);
    upnp_free_impl(metadata);
  } else if (std::strstr(text, "uuid:") != nullptr) {
    result = lm_queue_add_bookmark(context, text);
  }
  if (result != LM_NMC_OK)
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, kWho, "importWpl: Cannot add bookmark %s", text);
  upnp_free_impl(bookmark);
  return result;
}

lm_nmc_result_t import_text(wpl_transfer *transfer) {
  std::string text;
  lm_nmc_result_t result = read_text(transfer, &text);
  if (result != LM_NMC_OK || text.empty()) return result;
  upnp_wpl_playlist *playlist = wpl_read_text(text.data(), text.size());
  // Like the store's own reader: a playlist without a title is no WPL text.
  if (playlist != nullptr && playlist->title == nullptr) {
    wpl_free_record(playlist);
    playlist = nullptr;
  }
  if (playlist == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, kWho, "importWpl: Not a WPL text (%zu bytes)", text.size());
    return UPNP_WPL_FAILED;
  }
  for (uint32_t i = 0; i < playlist->item_count; ++i) {
    if (wpl_transfer_stopping()) {
      result = LM_NMC_GOING_DOWN;
      break;
    }
    result = add_item(transfer->context, playlist->items[i]);
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, kWho, "importWpl: %u item(s) read, result %u", playlist->item_count,
                result);
  wpl_free_record(playlist);
  return result;
}

}  // namespace

void importWpl(wpl_transfer *transfer) {
  const lm_nmc_result_t result = import_text(transfer);
  uint32_t length = 0;
  transfer->import_callback(transfer->context, &transfer->user_data, result, nullptr, &length);
}
