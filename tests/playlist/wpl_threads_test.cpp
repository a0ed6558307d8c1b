// The store under concurrent use: threads create, fill, move, write and
// delete their own playlists and iterate over all of them at the same time.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "playlist/upnp_wpl.h"

namespace {

TEST(WplThreads, ConcurrentOperationsKeepEveryPlaylistConsistent) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 60;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int r = 0; r < kRounds; ++r) {
        uint32_t h = 0;
        std::string title = "T" + std::to_string(t) + "-" + std::to_string(r);
        if (upnp_wpl_create_playlist(title.c_str(), 1, 1, nullptr, nullptr, &h) != 0) ++failures[t];
        for (int i = 0; i < 5; ++i) upnp_wpl_add_item(h, upnp_wpl_create_item(std::to_string(i).c_str()));
        upnp_wpl_set_item_track(h, 0, 5);
        upnp_string *s = nullptr;
        if (upnp_wpl_convert_to_xml(h, &s) != 0) ++failures[t];
        upnp_string_free(s);
        upnp_wpl_playlist_iterator *it = nullptr;
        for (uint32_t p = upnp_wpl_find_first_playlist(&it); p; p = upnp_wpl_find_next_playlist(it)) {
          uint32_t count = 0;
          upnp_wpl_get_playlist_properties(p, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
        }
        upnp_wpl_find_playlist_release(it);
        upnp_wpl_item *last = upnp_wpl_get_item_by_track(h, 4);
        if (!last || std::string(last->src) != "0") ++failures[t];
        upnp_wpl_free_item(last);
        if (upnp_wpl_delete_playlist(h) != 0) ++failures[t];
      }
    });
  }
  for (auto &th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
  upnp_wpl_playlist_iterator *it = nullptr;
  EXPECT_EQ(0u, upnp_wpl_find_first_playlist(&it));
  upnp_wpl_find_playlist_release(it);
}

TEST(WplThreads, StoreExitReturnsEveryByte) {
  upnp_wpl_exit();
  int64_t before = upnp_mem_used();
  upnp_wpl_init();
  uint32_t h = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Leak check", 1, 1, "g", "o", &h));
  upnp_wpl_item *item = upnp_wpl_create_item("x");
  upnp_wpl_set_item_title(item, "t");
  upnp_wpl_add_item(h, item);
  upnp_wpl_exit();
  EXPECT_EQ(before, upnp_mem_used());
  upnp_wpl_init();
  uint32_t again = 0;
  ASSERT_EQ(0, upnp_wpl_create_playlist("Leak check", 1, 1, nullptr, nullptr, &again));
  EXPECT_GT(again, h);
  upnp_wpl_delete_playlist(again);
}

}  // namespace
