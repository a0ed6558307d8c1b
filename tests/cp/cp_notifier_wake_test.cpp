// The notifier's idle wait: ended by a wake, never losing one given while
// the notifier was busy, and lasting its tick without one.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cp/upnp_cp.h"
#include "cp/upnp_cp_notifier_wake.h"

namespace {

using Clock = std::chrono::steady_clock;

double waited_ms(unsigned int tick) {
  auto start = Clock::now();
  cp_notifier_wait(tick);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A running control point's notifier would share the wakes.
#define SKIP_WHILE_THE_CONTROL_POINT_RUNS() \
  if (upnp_cp_is_running()) GTEST_SKIP() << "the control point runs in this process"

TEST(CpNotifierWake, WakeGivenBeforeTheWaitEndsItAtOnce) {
  SKIP_WHILE_THE_CONTROL_POINT_RUNS();
  cp_notifier_wait(0);  // forget a wake left by other tests
  cp_notifier_wake();
  EXPECT_LT(waited_ms(5000), 1000.0);
  // Used up: the next wait lasts its tick.
  EXPECT_GE(waited_ms(40), 35.0);
}

TEST(CpNotifierWake, WakeFromAnotherThreadEndsTheWait) {
  SKIP_WHILE_THE_CONTROL_POINT_RUNS();
  cp_notifier_wait(0);
  std::thread waker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cp_notifier_wake();
  });
  double ms = waited_ms(10000);
  waker.join();
  EXPECT_LT(ms, 5000.0);
}

}  // namespace
