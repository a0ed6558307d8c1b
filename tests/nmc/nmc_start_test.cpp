// Start, stop and start again; the implicit start and its single run under
// concurrent first calls; a command line with a help word; critical log
// messages and signals that stop the controller instead of the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_protection.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::count_state_call;
using nmc_test::NmcTest;
using nmc_test::state_calls;

const std::vector<std::string> k_start_calls = {"NMCRunState=Initializing", "NMCRunState=Initialized",
                                                "NMCRunState=Starting", "NMCRunState=Running"};
const std::vector<std::string> k_stop_calls = {"NMCRunState=Terminating", "NMCRunState=Stopped"};

// Every public function that needs a running controller, with what it
// answers when the controller does not run.
void expect_all_answer_going_down() {
  uint32_t context = 77;
  EXPECT_EQ(lm_nmc_conn_init(), 0);
  EXPECT_EQ(lm_dmscp_create_context(&context), LM_NMC_GOING_DOWN);
  EXPECT_EQ(context, 0u);
  EXPECT_EQ(lm_dmrcp_create_context(&context), LM_NMC_GOING_DOWN);
  EXPECT_EQ(lm_dmscp_delete_context(1), LM_NMC_GOING_DOWN);
  EXPECT_EQ(lm_dmrcp_delete_context(0x10001), LM_NMC_GOING_DOWN);
  EXPECT_EQ(lm_dmscp_register_callback(0, nullptr), LM_NMC_GOING_DOWN);
  EXPECT_EQ(lm_dmrcp_register_callback(0x10000, nullptr), LM_NMC_GOING_DOWN);
}

// Before the first start, the first controller call starts the controller
// by itself; after a stop only an explicit start does. Needs a process of
// its own (ctest runs each case alone).
TEST_F(NmcTest, FirstCallStartsAndStopHoldsUntilExplicitStart) {
  if (nmc_run_state() != LM_NMC_STATE_NEVER_STARTED) GTEST_SKIP() << "needs a fresh process";
  EXPECT_EQ(lm_nmc_is_terminating(), 0);
  uint32_t context = 0;
  ASSERT_EQ(lm_dmscp_create_context(&context), LM_NMC_OK);
  EXPECT_EQ(context, 1u);
  EXPECT_EQ(state_calls(), k_start_calls);

  nmc_test::clear_state_calls();
  auto before = std::chrono::steady_clock::now();
  lm_nmc_stop();
  // The request returns at once; the terminator does the work.
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
  EXPECT_EQ(lm_nmc_is_terminating(), 1);
  expect_all_answer_going_down();
  ASSERT_TRUE(nmc_wait_stopped(20000));
  EXPECT_EQ(state_calls(), k_stop_calls);
  EXPECT_EQ(lm_nmc_is_terminating(), 1);
  expect_all_answer_going_down();

  nmc_test::clear_state_calls();
  ASSERT_EQ(start(), 1);
  EXPECT_EQ(state_calls(), k_start_calls);
  EXPECT_EQ(lm_nmc_is_terminating(), 0);
  // A new run numbers its contexts afresh.
  ASSERT_EQ(lm_dmscp_create_context(&context), LM_NMC_OK);
  EXPECT_EQ(context, 1u);
}

// Concurrent first calls start the controller once.
TEST_F(NmcTest, ConcurrentFirstCallsStartOnce) {
  if (nmc_run_state() != LM_NMC_STATE_NEVER_STARTED) GTEST_SKIP() << "needs a fresh process";
  std::atomic<bool> go{false};
  std::atomic<int> running{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      running += lm_nmc_conn_init();
    });
  }
  go.store(true);
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(running.load(), 8);
  EXPECT_EQ(count_state_call("NMCRunState=Initializing"), 1);
  EXPECT_EQ(count_state_call("NMCRunState=Running"), 1);
}

// Start/stop cycles leave no thread behind (the sanitizer builds check the
// memory) and each cycle runs the states in order.
TEST_F(NmcTest, StartStopCyclesLeaveNoThread) {
  ASSERT_EQ(start(), 1);
  ASSERT_TRUE(stop_and_wait());
  long baseline = nmc_test::thread_count();
  ASSERT_GT(baseline, 0);
  int64_t memory = upnp_mem_used();
  for (int cycle = 0; cycle < 3; ++cycle) {
    nmc_test::clear_state_calls();
    ASSERT_EQ(start(), 1) << cycle;
    EXPECT_GT(nmc_test::thread_count(), baseline) << "the control point's threads run";
    ASSERT_TRUE(stop_and_wait()) << cycle;
    std::vector<std::string> expected = k_start_calls;
    expected.insert(expected.end(), k_stop_calls.begin(), k_stop_calls.end());
    EXPECT_EQ(state_calls(), expected) << cycle;
    EXPECT_EQ(nmc_test::thread_count(), baseline) << cycle;
    EXPECT_EQ(upnp_mem_used(), memory) << "accounted memory after cycle " << cycle;
  }
}

// A second stop while terminating or stopped does nothing.
TEST_F(NmcTest, RepeatedStopIsHarmless) {
  ASSERT_EQ(start(), 1);
  nmc_test::clear_state_calls();
  lm_nmc_stop();
  lm_nmc_stop();
  ASSERT_TRUE(nmc_wait_stopped(20000));
  lm_nmc_stop();
  EXPECT_EQ(state_calls(), k_stop_calls);
}

// A help word would have the property parser print the usage: the start
// fails and the process lives on; a later start with a sound line works.
TEST_F(NmcTest, HelpWordFailsTheStart) {
  const char *const words[] = {"-help", "-?", "--help"};
  for (const char *word : words) {
    uint32_t before = nmc_run_state();
    EXPECT_EQ(start({word}), 0) << word;
    EXPECT_EQ(nmc_run_state(), before) << word;
    EXPECT_EQ(count_state_call("NMCRunState=Running"), 0) << word;
  }
  EXPECT_EQ(start(), 1);
}

// A critical log message stops the controller and tells the state callback;
// the process goes on. Run in a child: a process ended by the log call
// (with status 0) must not pass for success.
TEST_F(NmcTest, CriticalLogStopsTheControllerNotTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (start() != 1) std::_Exit(3);
        nmc_test::clear_state_calls();
        upnp_log_impl(LOG_LEVEL_CRITICAL, LOG_SYSTEM, "test", "a critical condition");
        if (!nmc_wait_stopped(20000)) std::_Exit(4);
        std::vector<std::string> expected = {"NMCCriticalError=<null>"};
        expected.insert(expected.end(), k_stop_calls.begin(), k_stop_calls.end());
        std::_Exit(state_calls() == expected ? 7 : 5);
      },
      ::testing::ExitedWithCode(7), "");
}

// Handlers only when asked for, for SIGINT and SIGTERM, never for SIGABRT;
// a signal stops the controller; the stop restores what was there before.
TEST_F(NmcTest, SignalHandlersOnlyOnRequest) {
  auto handler_of = [](int signal) {
    struct sigaction now = {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
  };
  const int signals[] = {SIGINT, SIGTERM, SIGABRT};
  for (int install = 0; install <= 1; ++install) {
    void (*before[3])(int);
    for (int i = 0; i < 3; ++i) before[i] = handler_of(signals[i]);
    ASSERT_EQ(start({}, install), 1);
    for (int i = 0; i < 3; ++i) {
      bool changed = handler_of(signals[i]) != before[i];
      EXPECT_EQ(changed, install == 1 && signals[i] != SIGABRT) << "install " << install << " signal " << signals[i];
    }
    if (install == 1) {
      nmc_test::clear_state_calls();
      ASSERT_EQ(raise(SIGTERM), 0);
      ASSERT_TRUE(test_support::wait_until([] { return nmc_run_state() != LM_NMC_STATE_RUNNING; }, 5000));
    }
    ASSERT_TRUE(stop_and_wait());
    if (install == 1) {
      EXPECT_EQ(state_calls(), k_stop_calls);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(handler_of(signals[i]), before[i]) << signals[i];
  }
}

// A process that ends while the controller runs: the stop registered for
// process exit ends it within its bound and the process exits normally.
TEST_F(NmcTest, ProcessExitStopsTheControllerInTime) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (start() != 1) std::_Exit(3);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A state callback that calls back into the controller while it starts gets
// an answer instead of a deadlock.
std::atomic<int> g_reentry_answers{0};
void reentering_callback(const char *name, const char *value) {
  nmc_test::record_state(name, value);
  if (value != nullptr && std::strcmp(value, "Initialized") == 0) {
    uint32_t context = 0;
    g_reentry_answers += lm_dmscp_create_context(&context) == LM_NMC_GOING_DOWN ? 1 : 0;
  }
}

TEST_F(NmcTest, StateCallbackMayCallIn) {
  lm_nmc_register_state_callback(reentering_callback);
  ASSERT_EQ(start(), 1);
  EXPECT_EQ(g_reentry_answers.load(), 1);
  uint32_t context = 0;
  EXPECT_EQ(lm_dmscp_create_context(&context), LM_NMC_OK);
}

// The content protection hooks: the start hooks once the controller runs
// (a failing one does not hold the start back), the exit hook once at the
// stop before "Stopped"; without hooks nothing is called.
// Written by the starting thread, then by the terminator (joined before the
// test reads).
std::vector<std::string> g_hook_calls;
int hook_init_source(void) {
  g_hook_calls.push_back(std::string("init ") + nmc_run_state_name(nmc_run_state()));
  return 5;
}
int hook_server_start(void) {
  g_hook_calls.push_back(std::string("server ") + nmc_run_state_name(nmc_run_state()));
  return 0;
}
void hook_exit(void) { g_hook_calls.push_back(std::string("exit ") + nmc_run_state_name(nmc_run_state())); }

TEST_F(NmcTest, ProtectionHooksAtStartAndStop) {
  const nmc_protection_hooks hooks = {hook_init_source, hook_server_start, hook_exit};
  nmc_set_protection_hooks(&hooks);
  g_hook_calls.clear();
  EXPECT_EQ(start(), 1);
  EXPECT_EQ(g_hook_calls, (std::vector<std::string>{"init Running", "server Running"}));
  EXPECT_TRUE(stop_and_wait());
  EXPECT_EQ(g_hook_calls, (std::vector<std::string>{"init Running", "server Running", "exit Terminating"}));
  nmc_set_protection_hooks(nullptr);
  ASSERT_EQ(start(), 1);
  EXPECT_TRUE(stop_and_wait());
  EXPECT_EQ(g_hook_calls.size(), 3u);
}

}  // namespace
