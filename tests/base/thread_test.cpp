// Thread start (priority levels, retry and fallback), sleeping and clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <regex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "base/upnp_thread_platform.h"
#include "base_test_util.h"

namespace {

void *double_it(void *arg) {
  auto *value = static_cast<int *>(arg);
  *value *= 2;
  return arg;
}

void *report_nice(void *arg) {
  errno = 0;
  *static_cast<int *>(arg) = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  return nullptr;
}

std::atomic<int> g_failures_left{0};
std::atomic<int> g_calls{0};
std::atomic<int> g_failure{EAGAIN};
std::atomic<bool> g_last_had_attributes{false};

int flaky_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *), void *argument) {
  g_calls++;
  g_last_had_attributes = attributes != nullptr;
  if (g_failures_left > 0) {
    g_failures_left--;
    return g_failure;
  }
  return pthread_create(thread, attributes, routine, argument);
}

struct CreateHook {
  CreateHook(int failure, int failures) {
    g_failure = failure;
    g_failures_left = failures;
    g_calls = 0;
    upnp_thread_set_create_function(flaky_create);
  }
  ~CreateHook() { upnp_thread_set_create_function(nullptr); }
};

}  // namespace

TEST(Clock, FirstCallGivesZeroThenMillisecondsSince) {
  EXPECT_EQ(0u, getSystemTime());
  Sleep(30);
  uint64_t later = getSystemTime();
  EXPECT_GE(later, 30u);
  EXPECT_LT(later, 5000u);
}

TEST(Clock, SleepWaitsAtLeastTheTimeAsked) {
  auto start = std::chrono::steady_clock::now();
  Sleep(50);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  Sleep(0);
}

TEST(Clock, LoggingTimestampFormat) {
  char buffer[32];
  ASSERT_EQ(buffer, upnp_get_logging_timestamp(buffer, sizeof buffer));
  EXPECT_TRUE(std::regex_match(buffer, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]:[0-9]{3} "))) << buffer;
  char tiny[6];
  std::memset(tiny, 'x', sizeof tiny);
  upnp_get_logging_timestamp(tiny, sizeof tiny);
  EXPECT_EQ(5u, std::strlen(tiny)) << "truncated and terminated";
}

TEST(Thread, PriorityForLevel) {
  EXPECT_EQ(10, upnp_thread_priority_for_level(3));
  EXPECT_EQ(30, upnp_thread_priority_for_level(4));
  EXPECT_EQ(50, upnp_thread_priority_for_level(5));
  EXPECT_EQ(70, upnp_thread_priority_for_level(6));
  EXPECT_EQ(90, upnp_thread_priority_for_level(7));
  for (int other : {-1, 0, 1, 2, 8, 100}) EXPECT_EQ(50, upnp_thread_priority_for_level(other)) << other;
}

TEST(Thread, JoinableThreadRunsWithItsArgument) {
  int value = 21;
  upnp_thread_t t = upnp_start_joinable_thread(double_it, &value, UPNP_THREAD_LEVEL_DEFAULT);
  ASSERT_NE(UPNP_NO_THREAD, t);
  void *result = nullptr;
  ASSERT_EQ(0, upnp_join_thread(t, &result));
  EXPECT_EQ(42, value);
  EXPECT_EQ(&value, result);
  EXPECT_EQ(UPNP_NO_THREAD, upnp_start_joinable_thread(nullptr, nullptr, 5));
}

TEST(Thread, DetachedThreadRuns) {
  static std::atomic<int> ran{0};
  ran = 0;
  ASSERT_EQ(1, upnp_start_detached_thread([](void *) -> void * { ran += 1; return nullptr; }, nullptr, 5));
  ASSERT_EQ(1, upnp_start_thread([](void *) -> void * { ran += 2; return nullptr; }, nullptr, 3));
  for (int i = 0; i < 2000 && ran != 3; ++i) Sleep(1);
  EXPECT_EQ(3, ran.load());
}

TEST(Thread, LevelsBecomeNiceValuesOnLinux) {
  errno = 0;
  int base = getpriority(PRIO_PROCESS, 0);
  ASSERT_EQ(0, errno);
  int nice_low = 99;
  upnp_thread_t t = upnp_start_joinable_thread(report_nice, &nice_low, 3);
  ASSERT_NE(UPNP_NO_THREAD, t);
  upnp_join_thread(t, nullptr);
  EXPECT_EQ(base + upnp_thread_platform_nice_offset(10), nice_low);
  EXPECT_EQ(5, upnp_thread_platform_nice_offset(10));

  int nice_default = 99;
  t = upnp_start_joinable_thread(report_nice, &nice_default, 5);
  upnp_join_thread(t, nullptr);
  EXPECT_EQ(base, nice_default);

  if (geteuid() == 0) {
    int nice_high = 99;
    t = upnp_start_joinable_thread(report_nice, &nice_high, 7);
    upnp_join_thread(t, nullptr);
    EXPECT_EQ(base - 5, nice_high) << "level 7 asks for priority 90";
  }
}

TEST(Thread, RefusedPriorityIsLoggedOncePerProcess) {
  // Without the right to raise priorities (an ordinary user), level 7
  // threads keep the inherited priority and say so once.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(10);
    struct rlimit no_raise = {0, 0};
    setrlimit(RLIMIT_NICE, &no_raise);
    LogRecorder log;
    for (int i = 0; i < 3; ++i) {
      int nice_value = 99;
      upnp_thread_t t = upnp_start_joinable_thread(report_nice, &nice_value, 7);
      if (t == UPNP_NO_THREAD) _exit(11);
      upnp_join_thread(t, nullptr);
      if (nice_value != 0 && nice_value != getpriority(PRIO_PROCESS, 0)) _exit(12);
    }
    int refusals = log.count_prefix("Thread priorities above the inherited one are not permitted");
    _exit(refusals == 1 ? 0 : 20 + refusals);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(Thread, LackOfResourcesIsRetriedOnce) {
  LogRecorder log;
  CreateHook hook(EAGAIN, 1);
  int value = 1;
  upnp_thread_t t = upnp_start_joinable_thread(double_it, &value, 5);
  ASSERT_NE(UPNP_NO_THREAD, t);
  upnp_join_thread(t, nullptr);
  EXPECT_EQ(2, value);
  EXPECT_EQ(2, g_calls.load());
  EXPECT_EQ(1, log.count("Not enough resources to start thread - retrying"));
  EXPECT_EQ(0, log.count("Second try to start thread failed - giving up"));
}

TEST(Thread, SecondLackOfResourcesGivesUp) {
  LogRecorder log;
  CreateHook hook(EAGAIN, 2);
  int value = 1;
  EXPECT_EQ(UPNP_NO_THREAD, upnp_start_joinable_thread(double_it, &value, 5));
  EXPECT_EQ(2, g_calls.load());
  EXPECT_EQ(1, value);
  ASSERT_EQ(2u, log.lines().size());
  EXPECT_EQ(LOG_LEVEL_WARNING, log.lines()[0].level);
  EXPECT_EQ("Second try to start thread failed - giving up", log.lines()[1].text);
  EXPECT_EQ(LOG_LEVEL_ERROR, log.lines()[1].level);
  g_failures_left = 2;
  EXPECT_EQ(0, upnp_start_detached_thread(double_it, &value, 5));
}

TEST(Thread, OtherFailureFallsBackToDefaults) {
  LogRecorder log;
  CreateHook hook(EINVAL, 1);
  int value = 5;
  upnp_thread_t t = upnp_start_joinable_thread(double_it, &value, 7);
  ASSERT_NE(UPNP_NO_THREAD, t);
  upnp_join_thread(t, nullptr);
  EXPECT_EQ(10, value);
  EXPECT_EQ(2, g_calls.load());
  EXPECT_FALSE(g_last_had_attributes.load()) << "the retry uses default attributes";
  EXPECT_EQ(1, log.count("Failed to start thread with requested priority and scheduler - trying default"));
}

TEST(Thread, FailureWithDefaultsGivesUp) {
  LogRecorder log;
  CreateHook hook(EPERM, 5);
  int value = 5;
  EXPECT_EQ(UPNP_NO_THREAD, upnp_start_joinable_thread(double_it, &value, 5));
  EXPECT_EQ(2, g_calls.load());
  EXPECT_EQ(1, log.count("Failed to start thread with defaults - giving up"));
  EXPECT_EQ(5, value);
}

TEST(Thread, KillCancelsAJoinableThread) {
  upnp_thread_t t = upnp_start_joinable_thread(
      [](void *) -> void * {
        for (;;) Sleep(10);
        return nullptr;
      },
      nullptr, 5);
  ASSERT_NE(UPNP_NO_THREAD, t);
  Sleep(20);
  EXPECT_EQ(0, upnp_kill_joinable_thread(t));
  void *result = nullptr;
  ASSERT_EQ(0, upnp_join_thread(t, &result));
  EXPECT_EQ(PTHREAD_CANCELED, result);
}

TEST(Thread, EndThreadStopsTheCaller) {
  static std::atomic<int> reached{0};
  reached = 0;
  upnp_thread_t t = upnp_start_joinable_thread(
      [](void *) -> void * {
        reached = 1;
        upnp_end_thread();
        reached = 2;
        return reinterpret_cast<void *>(1);
      },
      nullptr, 5);
  void *result = reinterpret_cast<void *>(7);
  ASSERT_EQ(0, upnp_join_thread(t, &result));
  EXPECT_EQ(1, reached.load());
  EXPECT_EQ(nullptr, result);
}

TEST(Thread, InitThreadNamesTheThread) {
  char name[32] = {0};
  upnp_thread_t t = upnp_start_joinable_thread(
      [](void *arg) -> void * {
        upnp_init_thread("NMC Server Context Notifier");
        pthread_getname_np(pthread_self(), static_cast<char *>(arg), 32);
        return nullptr;
      },
      name, 5);
  upnp_join_thread(t, nullptr);
  EXPECT_STREQ("NMC Server Cont", name);
}
