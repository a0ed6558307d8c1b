// Locked lists under several threads adding, removing and iterating at once
// (run under ThreadSanitizer as well).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

bool wait_for(const std::function<bool()> &done, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return done();
}

// Removing an item that another thread holds returns at once; releasing the
// list waits; the item goes at its holder's unlock.
TEST(ListThreads, HeldItemGoesAtItsHoldersUnlock) {
  int64_t before = upnp_mem_used();
  g_made = g_released = 0;
  upnp_client_list *list = upnp_client_create_list(release_item, 1);
  Item *item = make_item(1);
  upnp_client_append_list_item(list, item);
  ASSERT_EQ(item, upnp_client_list_get_first_item(list));
  std::atomic<int> removed{-1};
  std::atomic<bool> released{false};
  std::thread remover([&] {
    removed = upnp_client_find_and_remove_list_item(list, item);
    upnp_client_release_list(list);
    released = true;
  });
  EXPECT_TRUE(wait_for([&] { return removed.load() != -1; }, 2)) << "removal must not wait for the holder";
  EXPECT_EQ(nullptr, upnp_client_list_get_first_item(list)) << "an item being removed is passed over";
  Sleep(50);
  EXPECT_FALSE(released.load()) << "releasing the list waits for the holder";
  EXPECT_EQ(0, g_released.load());
  EXPECT_EQ(kAlive, item->magic);
  upnp_client_unlock_list_item(list, item);
  remover.join();
  EXPECT_EQ(1, removed.load());
  EXPECT_EQ(1, g_released.load());
  EXPECT_EQ(before, upnp_mem_used());
}

// Two threads each hold one item and remove the other's: one after the
// other either way round, and at once. Neither may wait for the other; each
// item goes only when its holder lets go.
TEST(ListThreads, HoldersRemovingEachOthersItemsDoNotWait) {
  for (int order : {0, 1, 2}) {  // thread 0 first, thread 1 first, at once
    g_made = g_released = 0;
    upnp_client_list *list = upnp_client_create_list(release_item, 1);
    Item *items[2] = {make_item(0), make_item(1)};
    for (Item *item : items) upnp_client_append_list_item(list, item);
    std::atomic<int> held{0}, turn{0}, removed{0}, results{0}, finished{0};
    std::atomic<bool> gone_while_held{false};
    auto holder = [&](int me) {
      held += upnp_client_lock_list_item(list, items[me]);
      wait_for([&] { return held.load() == 2 && (order == 2 || turn.load() == (me ^ order)); }, 5);
      results += upnp_client_find_and_remove_list_item(list, items[1 - me]);
      turn++;
      removed++;
      wait_for([&] { return removed.load() == 2; }, 5);
      if (items[me]->magic != kAlive) gone_while_held = true;
      upnp_client_unlock_list_item(list, items[me]);
      finished++;
    };
    std::thread zero(holder, 0), one(holder, 1);
    if (!wait_for([&] { return finished.load() == 2; }, 10)) {
      std::fprintf(stderr, "holders removing each other's items deadlocked (order %d)\n", order);
      std::_Exit(1);  // the threads wait for each other for good: nothing to join
    }
    zero.join();
    one.join();
    EXPECT_EQ(2, results.load()) << order;
    EXPECT_FALSE(gone_while_held.load()) << order;
    EXPECT_EQ(2, g_released.load()) << order;
    upnp_client_release_list(list);
  }
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
