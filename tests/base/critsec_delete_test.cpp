// Deleting a client mutex while threads wait for it (run under ASan). This
// program replaces the platform's timed wait with one that holds a waiter
// for a while after it got the mutex, as a thread the scheduler is slow to
// run again: the section must outlive every such waiter.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "base/upnp_critsec.h"
#include "base/upnp_critsec_platform.h"
#include "base/upnp_mem.h"

namespace {
thread_local bool t_slow = false;
std::atomic<int> g_slow_waiting{0};
}  // namespace

int upnp_platform_mutex_timedlock(pthread_mutex_t *mutex, unsigned int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (t_slow) g_slow_waiting++;
  while (pthread_mutex_trylock(mutex) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (t_slow) std::this_thread::sleep_for(std::chrono::milliseconds(80));  // well past any fixed grace
  return 0;
}

TEST(ClientMutexDelete, SlowWaitersOutliveTheDeletion) {
  for (auto c : {std::make_pair(1, 0), std::make_pair(3, 1)}) {  // waiters, force (and deleter already holds)
    int64_t before = upnp_mem_used();
    CRITICAL_SECTION *m = upnp_client_create_mutex(1);
    ASSERT_NE(nullptr, m);
    g_slow_waiting = 0;
    std::atomic<int> locked{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < c.first; ++i) {
      waiters.emplace_back([&] {
        t_slow = true;
        locked += upnp_client_lock_mutex(&m, c.second);
      });
    }
    while (g_slow_waiting.load() < c.first) std::this_thread::yield();
    upnp_client_delete_mutex(&m, c.second);
    EXPECT_EQ(nullptr, m);
    for (auto &t : waiters) t.join();
    EXPECT_EQ(0, locked.load()) << "the reference was cleared while they waited";
    EXPECT_EQ(before, upnp_mem_used()) << "the last waiter frees the section";
  }
}
