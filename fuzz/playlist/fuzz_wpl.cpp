// The WPL reader on arbitrary text. Whatever it accepts must be written
// again, and that text must read back to a playlist that writes the very
// same text (titles, sources and attributes survive the escaping). Deleting the
// playlists gives their memory back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_wpl.h"

namespace {

std::string text_of(uint32_t handle) {
  upnp_string *s = nullptr;
  if (upnp_wpl_convert_to_xml(handle, &s) != UPNP_WPL_OK) std::abort();
  std::string out = upnp_string_get_cstring(s);
  upnp_string_free(s);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  upnp_wpl_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  int64_t before = upnp_mem_used();
  uint32_t h = 0;
  if (upnp_wpl_convert_from_xml(&h, input.c_str()) == UPNP_WPL_OK) {
    std::string first = text_of(h);
    if (upnp_wpl_delete_playlist(h) != UPNP_WPL_OK) std::abort();
    uint32_t again = 0;
    if (upnp_wpl_convert_from_xml(&again, first.c_str()) != UPNP_WPL_OK) std::abort();
    if (text_of(again) != first) std::abort();
    upnp_wpl_delete_playlist(again);
  }
  // Only the store's handle table may have grown (a few slots per run).
  if (upnp_mem_used() - before > 256) std::abort();
  return 0;
}
