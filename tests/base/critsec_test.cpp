// Recursive critical sections and the upnp_client_*_mutex helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/upnp_critsec.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "base_test_util.h"

namespace {

// Whether another thread could take the section right now.
bool free_for_others(CRITICAL_SECTION *cs) {
  bool taken = false;
  std::thread([&] {
    taken = upnp_critical_section_try_enter(cs) != 0;
    if (taken) LeaveCriticalSection(cs);
  }).join();
  return taken;
}

struct ServerStateGuard {
  ~ServerStateGuard() { upnp_server_set_state(UPNP_SERVER_RUNNING); }
};

}  // namespace

TEST(CriticalSection, ThreeEntersNeedThreeLeavesAndAFourthIsReported) {
  LogRecorder log;
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_EQ(2u, cs.count);
  EXPECT_EQ(1, log.count("Thread entered critical section for the 2. time"));
  EXPECT_EQ(1, log.count("Thread entered critical section for the 3. time"));
  for (const auto &line : log.lines()) EXPECT_EQ(LOG_LEVEL_WARNING, line.level);

  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(free_for_others(&cs)) << "still held once";
  EXPECT_TRUE(upnp_critical_section_is_owned(&cs));
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(upnp_critical_section_is_owned(&cs));
  EXPECT_TRUE(free_for_others(&cs));

  LeaveCriticalSection(&cs);
  EXPECT_EQ(1, log.count("Thread leaves critical section not owning"));
  EXPECT_TRUE(free_for_others(&cs)) << "a stray leave must not break the section";
  DeleteCriticalSection(&cs);
}

TEST(CriticalSection, LeaveByNonOwnerKeepsTheOwnersHold) {
  LogRecorder log;
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  std::atomic<bool> entered{false}, release{false};
  std::thread owner([&] {
    EnterCriticalSection(&cs);
    entered = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    LeaveCriticalSection(&cs);
  });
  while (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  LeaveCriticalSection(&cs);
  EXPECT_EQ(1, log.count("Thread leaves critical section not owning"));
  EXPECT_EQ(0, upnp_critical_section_try_enter(&cs)) << "the owner must still hold it";
  release = true;
  owner.join();
  EXPECT_EQ(1, upnp_critical_section_try_enter(&cs));
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
}

TEST(CriticalSection, ExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;  // deliberately plain: only the section protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        EnterCriticalSection(&cs);
        long seen = counter;
        counter = seen + 1;
        LeaveCriticalSection(&cs);
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(80000, counter);
  DeleteCriticalSection(&cs);
}

TEST(ClientMutex, CreatedLockedBelongsToTheCreator) {
  int64_t before = upnp_mem_used();
  CRITICAL_SECTION *m = upnp_client_create_mutex(1);
  ASSERT_NE(nullptr, m);
  EXPECT_TRUE(upnp_critical_section_is_owned(m));
  EXPECT_FALSE(free_for_others(m));
  EXPECT_EQ(1, upnp_client_unlock_mutex(&m));
  EXPECT_TRUE(free_for_others(m));
  upnp_client_delete_mutex(&m, 0);
  EXPECT_EQ(nullptr, m);
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(ClientMutex, LockFollowsTheServerStateUnlessForced) {
  ServerStateGuard restore;
  CRITICAL_SECTION *m = upnp_client_create_mutex(0);
  ASSERT_NE(nullptr, m);
  ASSERT_EQ(1, upnp_client_lock_mutex(&m, 0));
  EXPECT_EQ(1, upnp_client_unlock_mutex(&m));

  upnp_server_set_state(UPNP_SERVER_RESTARTING);
  ASSERT_EQ(1, upnp_client_lock_mutex(&m, 0));
  upnp_client_unlock_mutex(&m);

  upnp_server_set_state(UPNP_SERVER_STOPPED);
  EXPECT_EQ(0, upnp_client_lock_mutex(&m, 0));
  EXPECT_FALSE(upnp_critical_section_is_owned(m)) << "a failed lock holds nothing";
  ASSERT_EQ(1, upnp_client_lock_mutex(&m, 1));
  EXPECT_TRUE(upnp_critical_section_is_owned(m));
  upnp_client_unlock_mutex(&m);
  upnp_client_delete_mutex(&m, 0);
}

TEST(ClientMutex, WaiterGivesUpWhenTheServerStops) {
  ServerStateGuard restore;
  CRITICAL_SECTION *m = upnp_client_create_mutex(1);
  ASSERT_NE(nullptr, m);
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = upnp_client_lock_mutex(&m, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(-1, result.load()) << "must wait while the holder keeps it";
  auto stopped_at = std::chrono::steady_clock::now();
  upnp_server_set_state(UPNP_SERVER_STOPPED);
  waiter.join();
  EXPECT_EQ(0, result.load());
  EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, std::chrono::seconds(2));
  upnp_server_set_state(UPNP_SERVER_RUNNING);
  upnp_client_delete_mutex(&m, 1);
}

TEST(ClientMutex, WaiterGetsItWhenReleased) {
  CRITICAL_SECTION *m = upnp_client_create_mutex(1);
  ASSERT_NE(nullptr, m);
  std::atomic<int> result{-1};
  std::thread waiter([&] {
    result = upnp_client_lock_mutex(&m, 0);
    if (result == 1) upnp_client_unlock_mutex(&m);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  EXPECT_EQ(-1, result.load());
  upnp_client_unlock_mutex(&m);
  waiter.join();
  EXPECT_EQ(1, result.load());
  upnp_client_delete_mutex(&m, 0);
}

TEST(ClientMutex, DeletedReferenceCannotBeLocked) {
  CRITICAL_SECTION *m = upnp_client_create_mutex(0);
  ASSERT_NE(nullptr, m);
  ASSERT_EQ(1, upnp_client_lock_mutex(&m, 0));
  upnp_client_delete_mutex(&m, 1);
  EXPECT_EQ(nullptr, m);
  EXPECT_EQ(0, upnp_client_lock_mutex(&m, 1));
  EXPECT_EQ(0, upnp_client_unlock_mutex(&m));
  upnp_client_delete_mutex(&m, 0);  // nothing left to delete
}
