// Locked lists on one thread (plus a helper thread where locking is the
// point): order, lookups, removal and release, iterators handed on.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_list.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "base/upnp_thread.h"
#include "base_test_util.h"

namespace {

std::vector<intptr_t> g_released;

void release_item(void *item) { g_released.push_back(reinterpret_cast<intptr_t>(item)); }

void *V(intptr_t v) { return reinterpret_cast<void *>(v); }

int compare_values(const void *a, const void *b) {
  auto x = reinterpret_cast<intptr_t>(a), y = reinterpret_cast<intptr_t>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// Items in order, read through an iterator (unlocking each).
std::vector<intptr_t> contents(upnp_client_list *list) {
  std::vector<intptr_t> out;
  upnp_client_list_iterator *it = upnp_client_get_list_iterator(list);
  for (void *item = upnp_client_get_current_iterator_item(it); item; item = upnp_client_get_next_iterator_item(it)) {
    out.push_back(reinterpret_cast<intptr_t>(item));
    upnp_client_unlock_list_item(list, item);
  }
  upnp_client_release_list_iterator(it);
  return out;
}

using Items = std::vector<intptr_t>;

class ListTest : public testing::Test {
 protected:
  void SetUp() override {
    g_released.clear();
    before_ = upnp_mem_used();
    list_ = upnp_client_create_list(release_item, 1);
    ASSERT_NE(nullptr, list_);
  }
  void TearDown() override {
    upnp_server_set_state(UPNP_SERVER_RUNNING);
    if (list_) upnp_client_release_list(list_);
    EXPECT_EQ(before_, upnp_mem_used()) << "lists, members and iterators must all be freed";
  }
  void fill(std::initializer_list<intptr_t> values) {
    for (intptr_t v : values) ASSERT_NE(nullptr, upnp_client_append_list_item(list_, V(v)));
  }
  void *locked_get(void *item) {  // helper for "get, then give back"
    if (item) upnp_client_unlock_list_item(list_, item);
    return item;
  }
  upnp_client_list *list_ = nullptr;
  int64_t before_ = 0;
};

}  // namespace

TEST_F(ListTest, AppendPrependAndCount) {
  fill({2, 3});
  ASSERT_NE(nullptr, upnp_client_prepend_list_item(list_, V(1)));
  EXPECT_EQ((Items{1, 2, 3}), contents(list_));
  EXPECT_EQ(3, upnp_client_list_count_items(list_));
  EXPECT_EQ(2, upnp_client_list_get_item_index(list_, V(3)));
  EXPECT_EQ(-1, upnp_client_list_get_item_index(list_, V(9)));
  EXPECT_TRUE(upnp_client_list_contains_item(list_, V(1)));
  EXPECT_FALSE(upnp_client_list_contains_item(list_, V(9)));
}

TEST_F(ListTest, GetFunctionsWalkTheList) {
  fill({10, 20, 30});
  EXPECT_EQ(V(10), locked_get(upnp_client_list_get_first_item(list_)));
  EXPECT_EQ(V(30), locked_get(upnp_client_list_get_last_item(list_)));
  EXPECT_EQ(V(20), locked_get(upnp_client_list_get_next_item(list_, V(10))));
  EXPECT_EQ(nullptr, locked_get(upnp_client_list_get_next_item(list_, V(30))));
  EXPECT_EQ(V(20), locked_get(upnp_client_list_get_previous_item(list_, V(30))));
  EXPECT_EQ(nullptr, locked_get(upnp_client_list_get_previous_item(list_, V(10))));
  EXPECT_EQ(V(30), locked_get(upnp_client_get_list_item(list_, 2)));
  EXPECT_EQ(nullptr, locked_get(upnp_client_get_list_item(list_, 3)));
  EXPECT_EQ(nullptr, locked_get(upnp_client_get_list_item(list_, -1)));
  EXPECT_EQ(V(20), locked_get(upnp_client_list_find_item(list_, compare_values, V(20))));
  EXPECT_EQ(nullptr, upnp_client_list_find_item(list_, compare_values, V(25)));
  upnp_client_list_member *m = upnp_client_get_list_member(list_, V(20));
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(nullptr, upnp_client_get_list_member(list_, V(21)));
}

TEST_F(ListTest, GottenItemStaysLockedUntilUnlocked) {
  fill({1});
  void *item = upnp_client_list_get_first_item(list_);
  ASSERT_EQ(V(1), item);
  std::atomic<int> other{-1};
  std::thread t([&] {
    other = upnp_client_lock_list_item(list_, V(1));
    if (other == 1) upnp_client_unlock_list_item(list_, V(1));
  });
  Sleep(100);
  EXPECT_EQ(-1, other.load()) << "another thread must wait for the holder";
  upnp_client_unlock_list_item(list_, item);
  t.join();
  EXPECT_EQ(1, other.load());
}

TEST_F(ListTest, DoubleLockAndStrayUnlockAreReported) {
  LogRecorder log;
  fill({1});
  ASSERT_EQ(1, upnp_client_lock_list_item(list_, V(1)));
  ASSERT_EQ(1, upnp_client_lock_list_item(list_, V(1)));
  EXPECT_EQ(1, log.count("lockMember: Already locked: 1"));
  EXPECT_EQ(1, upnp_client_unlock_list_item(list_, V(1)));
  EXPECT_EQ(1, upnp_client_unlock_list_item(list_, V(1)));
  EXPECT_EQ(0, upnp_client_unlock_list_item(list_, V(1)));
  EXPECT_EQ(1, log.count("unlockMember: Mutex not locked"));
  for (const auto &line : log.lines()) EXPECT_EQ(4, line.level);
  EXPECT_EQ(0, upnp_client_lock_list_item(list_, V(7))) << "not in the list";
}

TEST_F(ListTest, RemoveReleasesAndPopHandsBack) {
  fill({1, 2, 3, 4, 5});
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, V(3)));
  EXPECT_EQ(0, upnp_client_find_and_remove_list_item(list_, V(3)));
  EXPECT_EQ(1, upnp_client_remove_first_list_item(list_));
  EXPECT_EQ(1, upnp_client_remove_last_list_item(list_));
  EXPECT_EQ((Items{3, 1, 5}), g_released);
  EXPECT_EQ(V(2), upnp_client_pop_first_list_item(list_));
  EXPECT_EQ(V(4), upnp_client_pop_last_list_item(list_));
  EXPECT_EQ((Items{3, 1, 5}), g_released) << "popped items are not released";
  EXPECT_EQ(nullptr, upnp_client_pop_first_list_item(list_));
  EXPECT_EQ(0, upnp_client_remove_first_list_item(list_));
  EXPECT_EQ(0, upnp_client_list_count_items(list_));
}

TEST_F(ListTest, RemoveMemberChecksMembership) {
  fill({1, 2});
  upnp_client_list_member *m = upnp_client_get_list_member(list_, V(2));
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(1, upnp_client_remove_list_member(list_, m));
  EXPECT_EQ(0, upnp_client_remove_list_member(list_, m)) << "a member already gone";
  EXPECT_EQ(0, upnp_client_remove_list_member(list_, nullptr));
  EXPECT_EQ((Items{1}), contents(list_));
}

TEST_F(ListTest, RemovingAnItemTheCallerHoldsGivesTheLockUp) {
  LogRecorder log;
  fill({1, 2});
  void *item = upnp_client_list_get_first_item(list_);
  ASSERT_EQ(V(1), item);
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, item));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ((Items{2}), contents(list_));
}

TEST_F(ListTest, SortedInsertion) {
  for (intptr_t v : {5, 1, 3, 9, 3}) ASSERT_NE(nullptr, upnp_client_add_list_item_sorted(list_, V(v), 0, compare_values, 0));
  EXPECT_EQ((Items{1, 3, 3, 5, 9}), contents(list_));
  EXPECT_EQ(nullptr, upnp_client_add_list_item_sorted(list_, V(5), 0, compare_values, 1)) << "unique";
  EXPECT_EQ(5, upnp_client_list_count_items(list_));

  upnp_client_list *down = upnp_client_create_list(nullptr, 0);
  for (intptr_t v : {5, 1, 7, 3}) upnp_client_add_list_item_sorted(down, V(v), 1, compare_values, 1);
  EXPECT_EQ((Items{7, 5, 3, 1}), contents(down));
  upnp_client_release_list(down);
}

TEST_F(ListTest, CreateMemberAfterAndLocked) {
  fill({1, 3});
  upnp_client_list_member *one = upnp_client_get_list_member(list_, V(1));
  ASSERT_NE(nullptr, upnp_client_create_list_member(list_, one, V(2), 1, 1));
  ASSERT_NE(nullptr, upnp_client_create_list_member(list_, nullptr, V(5), 0, 0));
  std::atomic<int> other{-1};
  std::thread t([&] {
    other = upnp_client_lock_list_item(list_, V(2));
    if (other == 1) upnp_client_unlock_list_item(list_, V(2));
  });
  Sleep(80);
  EXPECT_EQ(-1, other.load()) << "created locked for the caller";
  EXPECT_EQ(1, upnp_client_unlock_list_item(list_, V(2)));
  t.join();
  EXPECT_EQ((Items{5, 1, 2, 3}), contents(list_));
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, V(2)));
  upnp_client_list_member *stale = reinterpret_cast<upnp_client_list_member *>(&other);
  EXPECT_EQ(nullptr, upnp_client_create_list_member(list_, stale, V(4), 0, 0)) << "unknown anchor";
}

TEST_F(ListTest, CutOff) {
  fill({1, 2, 3, 4, 5, 6});
  EXPECT_EQ(2, upnp_client_cut_off_list(list_, V(4)));
  EXPECT_EQ((Items{1, 2, 3, 4}), contents(list_));
  EXPECT_EQ(-1, upnp_client_cut_off_list(list_, V(9)));
  EXPECT_EQ(3, upnp_client_cut_off_list_at(list_, 1));
  EXPECT_EQ((Items{1}), contents(list_));
  EXPECT_EQ(0, upnp_client_cut_off_list_at(list_, 5));
  EXPECT_EQ((Items{5, 6, 2, 3, 4}), g_released);
}

TEST_F(ListTest, IteratorIsHandedOnWhenItsMemberGoes) {
  fill({1, 2, 3, 4});
  upnp_client_list_iterator *it = upnp_client_get_list_iterator(list_);
  void *item = upnp_client_get_current_iterator_item(it);
  ASSERT_EQ(V(1), item);
  // Remove the member the iterator stands on (the caller holds it locked).
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, item));
  item = upnp_client_get_next_iterator_item(it);
  EXPECT_EQ(V(2), item) << "no member skipped";
  upnp_client_unlock_list_item(list_, item);
  // Remove the successor while standing on 2: the next step gives 4.
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, V(3)));
  item = upnp_client_get_next_iterator_item(it);
  EXPECT_EQ(V(4), item);
  upnp_client_unlock_list_item(list_, item);
  // Remove the last one while standing on it: the iterator is at the end.
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, V(4)));
  EXPECT_EQ(nullptr, upnp_client_get_next_iterator_item(it));
  EXPECT_EQ(nullptr, upnp_client_get_next_iterator_item(it));
  upnp_client_release_list_iterator(it);
  EXPECT_EQ((Items{2}), contents(list_));
}

TEST_F(ListTest, CurrentItemAfterRemovalIsTheSuccessor) {
  fill({1, 2, 3});
  upnp_client_list_iterator *it = upnp_client_get_list_iterator(list_);
  EXPECT_EQ(1, upnp_client_find_and_remove_list_item(list_, V(1)));
  void *item = upnp_client_get_current_iterator_item(it);
  EXPECT_EQ(V(2), item);
  upnp_client_unlock_list_item(list_, item);
  item = upnp_client_get_next_iterator_item(it);
  EXPECT_EQ(V(3), item) << "the successor is not given twice";
  upnp_client_unlock_list_item(list_, item);
  upnp_client_release_list_iterator(it);
}

TEST_F(ListTest, StoppedServerRefusesLocksButNotRelease) {
  fill({1, 2});
  upnp_server_set_state(UPNP_SERVER_STOPPED);
  EXPECT_EQ(nullptr, upnp_client_list_get_first_item(list_));
  EXPECT_EQ(0, upnp_client_lock_list_item(list_, V(1)));
  upnp_client_release_list(list_);
  list_ = nullptr;
  EXPECT_EQ((Items{1, 2}), g_released);
}

TEST_F(ListTest, ListWithoutLocks) {
  upnp_client_list *plain = upnp_client_create_list(release_item, 0);
  for (intptr_t v : {1, 2, 3}) upnp_client_append_list_item(plain, V(v));
  void *item = upnp_client_list_get_first_item(plain);
  EXPECT_EQ(V(1), item);
  EXPECT_EQ(1, upnp_client_unlock_list_item(plain, item));
  EXPECT_EQ(1, upnp_client_remove_first_list_item(plain));
  EXPECT_EQ((Items{2, 3}), contents(plain));
  upnp_client_release_list(plain);
  EXPECT_EQ((Items{1, 2, 3}), g_released);
}
