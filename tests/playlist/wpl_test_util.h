// Helpers of the playlist tests: owned texts and items from the store.
#ifndef TESTS_PLAYLIST_WPL_TEST_UTIL_H
#define TESTS_PLAYLIST_WPL_TEST_UTIL_H

#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "playlist/upnp_wpl.h"
#include "support_mem.h"

// Takes over an accounted text ("<none>" for none).
using test_support::take_text;

// src of every item, in order.
inline std::vector<std::string> item_srcs(uint32_t handle) {
  std::vector<std::string> out;
  upnp_wpl_item_iterator *it = nullptr;
  for (upnp_wpl_item *item = upnp_wpl_find_first_playlist_item(handle, &it); item;
       item = upnp_wpl_find_next_playlist_item(it)) {
    out.push_back(item->src);
    upnp_wpl_free_item(item);
  }
  upnp_wpl_find_playlist_item_release(it);
  return out;
}

inline std::string wpl_text(uint32_t handle) {
  upnp_string *s = nullptr;
  if (upnp_wpl_convert_to_xml(handle, &s) != UPNP_WPL_OK) {
    upnp_string_free(s);
    return "<failed>";
  }
  std::string text = upnp_string_get_cstring(s);
  upnp_string_free(s);
  return text;
}

// A playlist with items "a", "b", ... (count of them) and a title unique to
// the caller.
inline uint32_t make_playlist(const std::string &title, int count, int type = UPNP_WPL_TYPE_MUSIC) {
  uint32_t h = 0;
  if (upnp_wpl_create_playlist(title.c_str(), type, UPNP_WPL_SOURCE_FILE, nullptr, nullptr, &h) != 0) return 0;
  for (int i = 0; i < count; ++i) {
    std::string src(1, static_cast<char>('a' + i));
    upnp_wpl_add_item(h, upnp_wpl_create_item(src.c_str()));
  }
  return h;
}

#endif
