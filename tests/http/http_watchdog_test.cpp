// The socket watchdog: firing, withdrawing, ordering, and the thread's life
// with the stack's run state.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "http/upnp_socket_watchdog.h"

namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

struct Pair {
  int sv[2] = {-1, -1};
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0); }
  ~Pair() {
    if (sv[0] >= 0) close(sv[0]);
    close(sv[1]);
  }
};

bool wait_for(bool (*cond)(), int ms) {
  auto t0 = Clock::now();
  while (ms_since(t0) < ms) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return cond();
}

class HttpWatchdog : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_server_set_state(UPNP_SERVER_RUNNING);
    baseline_ = upnp_mem_used();
  }
  void TearDown() override {
    upnp_server_set_state(UPNP_SERVER_RUNNING);
    EXPECT_EQ(upnp_socket_watchdog_pending(), 0u);
    EXPECT_EQ(upnp_mem_used(), baseline_);
  }
  int64_t baseline_ = 0;
};

}  // namespace

TEST_F(HttpWatchdog, InvalidParametersGiveNoHandle) {
  EXPECT_EQ(upnp_enforce_socket_timeout(100, -1), nullptr);
  Pair p;
  EXPECT_EQ(upnp_enforce_socket_timeout(0, p.sv[0]), nullptr);
  EXPECT_EQ(upnp_release_socket_timeout(nullptr, 0), 0);
  EXPECT_EQ(upnp_release_socket_timeout(nullptr, 1), 1);
}

TEST_F(HttpWatchdog, FiringWakesABlockedReceive) {
  Pair p;
  // The stopwatch starts before the deadline is registered: under a slow
  // (instrumented, loaded) run, registering may itself take tens of ms.
  auto t0 = Clock::now();
  upnp_socket_timeout *h = upnp_enforce_socket_timeout(300, p.sv[0]);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(upnp_socket_watchdog_is_active());
  char c;
  ssize_t r = recv(p.sv[0], &c, 1, 0);  // nothing is ever sent
  long long took = ms_since(t0);
  EXPECT_LE(r, 0);
  EXPECT_GE(took, 280);
  EXPECT_LT(took, 1000);
  // The entry fired: the exchange counts as failed even without close.
  EXPECT_EQ(upnp_release_socket_timeout(h, 0), 1);
  // The descriptor is still ours to close (the watchdog only shut it down).
  EXPECT_EQ(close(p.sv[0]), 0);
  p.sv[0] = -1;
}

TEST_F(HttpWatchdog, WithdrawBeforeDeadlineLeavesSocketUsable) {
  Pair p;
  upnp_socket_timeout *h = upnp_enforce_socket_timeout(200, p.sv[0]);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(upnp_socket_watchdog_pending(), 1u);
  EXPECT_EQ(upnp_release_socket_timeout(h, 0), 0);
  EXPECT_EQ(upnp_socket_watchdog_pending(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_EQ(send(p.sv[1], "k", 1, 0), 1);
  char c = 0;
  EXPECT_EQ(recv(p.sv[0], &c, 1, 0), 1);
  EXPECT_EQ(c, 'k');
}

TEST_F(HttpWatchdog, WithdrawWithCloseClosesAndReportsFailure) {
  Pair p;
  upnp_socket_timeout *h = upnp_enforce_socket_timeout(5000, p.sv[0]);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(upnp_release_socket_timeout(h, 1), 1);
  char c;
  EXPECT_EQ(recv(p.sv[1], &c, 1, 0), 0);  // the peer sees the close
  p.sv[0] = -1;
}

TEST_F(HttpWatchdog, EntriesFireInDeadlineOrder) {
  Pair late, early;
  upnp_socket_timeout *hl = upnp_enforce_socket_timeout(900, late.sv[0]);
  upnp_socket_timeout *he = upnp_enforce_socket_timeout(150, early.sv[0]);
  ASSERT_NE(hl, nullptr);
  ASSERT_NE(he, nullptr);
  char c;
  auto t0 = Clock::now();
  EXPECT_LE(recv(early.sv[0], &c, 1, 0), 0);
  EXPECT_LT(ms_since(t0), 600);
  EXPECT_EQ(upnp_socket_watchdog_pending(), 1u);  // the later one still waits
  EXPECT_EQ(upnp_release_socket_timeout(he, 0), 1);
  EXPECT_EQ(upnp_release_socket_timeout(hl, 0), 0);
}

TEST_F(HttpWatchdog, ThreadEndsWhenStackStopsAndRestartsLater) {
  Pair p;
  upnp_socket_timeout *h = upnp_enforce_socket_timeout(60000, p.sv[0]);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(upnp_socket_watchdog_is_active());
  upnp_server_set_state(UPNP_SERVER_STOPPED);
  EXPECT_TRUE(wait_for([] { return !upnp_socket_watchdog_is_active(); }, 2000));
  // Dropped without touching the socket; the owner learns the exchange failed.
  EXPECT_EQ(upnp_socket_watchdog_pending(), 0u);
  EXPECT_EQ(upnp_release_socket_timeout(h, 0), 1);
  ASSERT_EQ(send(p.sv[1], "k", 1, 0), 1);
  char c;
  EXPECT_EQ(recv(p.sv[0], &c, 1, 0), 1);

  upnp_server_set_state(UPNP_SERVER_RUNNING);
  upnp_socket_timeout *h2 = upnp_enforce_socket_timeout(100, p.sv[0]);
  ASSERT_NE(h2, nullptr);
  EXPECT_TRUE(upnp_socket_watchdog_is_active());
  EXPECT_LE(recv(p.sv[0], &c, 1, 0), 0);
  EXPECT_EQ(upnp_release_socket_timeout(h2, 0), 1);
}

TEST_F(HttpWatchdog, ManyThreadsRegisterAndWithdrawAtOnce) {
  constexpr int kThreads = 8;
  std::thread workers[kThreads];
  int fired[kThreads] = {};
  int long_fired[kThreads] = {};
  for (int t = 0; t < kThreads; ++t) {
    workers[t] = std::thread([t, &fired, &long_fired] {
      Pair p;
      for (int i = 0; i < 50; ++i) {
        // Half of them expire almost at once, half are withdrawn in time.
        unsigned int ms = (i % 2) ? 1 : 10000;
        upnp_socket_timeout *h = upnp_enforce_socket_timeout(ms, p.sv[0]);
        if (!h) continue;
        if (ms == 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        int failed = upnp_release_socket_timeout(h, 0);
        fired[t] += failed;
        if (ms != 1) long_fired[t] += failed;
      }
    });
  }
  for (auto &w : workers) w.join();
  int total = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(long_fired[t], 0);  // withdrawn in time: never reported as failed
    total += fired[t];
  }
  EXPECT_GT(total, 0);  // some of the 1 ms entries fired before their withdrawal
}
