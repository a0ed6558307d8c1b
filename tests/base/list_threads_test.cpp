// Locked lists under several threads adding, removing and iterating at once
// (run under ThreadSanitizer as well).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "base/upnp_list.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"

namespace {

constexpr uint32_t kAlive = 0xA11CE5ED;

struct Item {
  uint32_t magic;
  long value;
  long touched;  // plain on purpose: only the member lock guards it
};

std::atomic<long> g_made{0};
std::atomic<long> g_released{0};

Item *make_item(long value) {
  auto *item = static_cast<Item *>(upnp_malloc_impl(sizeof(Item)));
  item->magic = kAlive;
  item->value = value;
  item->touched = 0;
  g_made++;
  return item;
}

void release_item(void *raw) {
  auto *item = static_cast<Item *>(raw);
  EXPECT_EQ(kAlive, item->magic) << "released twice";
  item->magic = 0;
  item->touched = -1;
  upnp_free_impl(item);
  g_released++;
}

}  // namespace

TEST(ListThreads, AddRemoveAndIterateAtOnce) {
  int64_t before = upnp_mem_used();
  g_made = g_released = 0;
  upnp_client_list *list = upnp_client_create_list(release_item, 1);
  ASSERT_NE(nullptr, list);
  std::atomic<long> next_value{0};
  std::atomic<bool> failed{false};
  std::atomic<long> passes{0}, visits{0};

  auto adder = [&] {
    for (int i = 0; i < 1500; ++i) {
      // One adder appending rising values: every pass must see them rising.
      long v = next_value++;
      upnp_client_append_list_item(list, make_item(v));
    }
  };
  auto remover = [&](unsigned seed) {
    std::mt19937 rng(seed);
    for (int i = 0; i < 1500; ++i) {
      switch (rng() % 4) {
        case 0: upnp_client_remove_first_list_item(list); break;
        case 1: upnp_client_remove_last_list_item(list); break;
        case 2: {
          void *popped = upnp_client_pop_first_list_item(list);
          if (popped) release_item(popped);
          break;
        }
        default: {
          int count = upnp_client_list_count_items(list);
          if (count > 0) {
            void *item = upnp_client_get_list_item(list, static_cast<int>(rng() % static_cast<unsigned>(count)));
            if (item) {
              static_cast<Item *>(item)->touched++;
              // Removing gives the lock up too; when another thread's removal
              // came first, give it back so that removal can finish.
              if (!upnp_client_find_and_remove_list_item(list, item)) upnp_client_unlock_list_item(list, item);
            }
          }
        }
      }
    }
  };
  auto iterator = [&](bool remove_some) {
    for (int pass = 0; pass < 150; ++pass) {
      upnp_client_list_iterator *it = upnp_client_get_list_iterator(list);
      long last = -1;
      int step = 0;
      for (void *raw = upnp_client_get_current_iterator_item(it); raw; raw = upnp_client_get_next_iterator_item(it)) {
        auto *item = static_cast<Item *>(raw);
        if (item->magic != kAlive || item->value <= last) failed = true;
        last = item->value;
        item->touched++;
        visits++;
        if (remove_some && ++step % 7 == 0) {
          if (!upnp_client_find_and_remove_list_item(list, raw)) upnp_client_unlock_list_item(list, raw);
        } else {
          upnp_client_unlock_list_item(list, raw);
        }
      }
      upnp_client_release_list_iterator(it);
      passes++;
    }
  };

  std::vector<std::thread> threads;
  threads.emplace_back(adder);
  threads.emplace_back(remover, 1u);
  threads.emplace_back(remover, 2u);
  threads.emplace_back(iterator, false);
  threads.emplace_back(iterator, true);
  for (auto &t : threads) t.join();
  EXPECT_FALSE(failed.load()) << "an iterator saw a freed item or an item twice / out of order";
  EXPECT_EQ(300, passes.load());

  long left = upnp_client_list_count_items(list);
  upnp_client_release_list(list);
  EXPECT_EQ(g_made.load(), g_released.load()) << left << " were left for the final release";
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(ListThreads, RemovalWaitsForTheHolder) {
  int64_t before = upnp_mem_used();
  g_made = g_released = 0;
  upnp_client_list *list = upnp_client_create_list(release_item, 1);
  Item *item = make_item(1);
  upnp_client_append_list_item(list, item);
  ASSERT_EQ(item, upnp_client_list_get_first_item(list));
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    upnp_client_find_and_remove_list_item(list, item);
    removed = true;
  });
  Sleep(100);
  EXPECT_FALSE(removed.load());
  EXPECT_EQ(0, g_released.load());
  EXPECT_EQ(kAlive, item->magic);
  EXPECT_EQ(nullptr, upnp_client_list_get_first_item(list)) << "an item being removed is passed over";
  upnp_client_unlock_list_item(list, item);
  remover.join();
  EXPECT_TRUE(removed.load());
  EXPECT_EQ(1, g_released.load());
  upnp_client_release_list(list);
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(ListThreads, ConcurrentSortedInsertsKeepOrder) {
  int64_t before = upnp_mem_used();
  g_made = g_released = 0;
  upnp_client_list *list = upnp_client_create_list(release_item, 1);
  auto compare = [](const void *a, const void *b) -> int {
    long x = static_cast<const Item *>(a)->value, y = static_cast<const Item *>(b)->value;
    return x < y ? -1 : x > y ? 1 : 0;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        upnp_client_add_list_item_sorted(list, make_item((i * 37 + t * 11) % 1000), 0, compare, 0);
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(1200, upnp_client_list_count_items(list));
  long last = -1;
  bool ordered = true;
  upnp_client_list_iterator *it = upnp_client_get_list_iterator(list);
  for (void *raw = upnp_client_get_current_iterator_item(it); raw; raw = upnp_client_get_next_iterator_item(it)) {
    long v = static_cast<Item *>(raw)->value;
    ordered = ordered && v >= last;
    last = v;
    upnp_client_unlock_list_item(list, raw);
  }
  upnp_client_release_list_iterator(it);
  EXPECT_TRUE(ordered);
  upnp_client_release_list(list);
  EXPECT_EQ(1200, g_released.load());
  EXPECT_EQ(before, upnp_mem_used());
}
