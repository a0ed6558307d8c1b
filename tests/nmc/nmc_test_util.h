// Test support of the controller: a fixture that gives the controller a
// temporary data folder and log file, starts it without the network stack,
// records the state callback and stops it again at the end.
#ifndef TESTS_NMC_NMC_TEST_UTIL_H
#define TESTS_NMC_NMC_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support_files.h"

namespace nmc_test {

// What the state callback received, as "name=value" ("value" "<null>" for
// none), in order.
std::vector<std::string> state_calls();
void clear_state_calls();
// How often "name=value" was received.
int count_state_call(const std::string &call);
void record_state(const char *name, const char *value);

// A queue callback that records the events Playing and Stopped as
// "<name> <index> <pending>" (from any thread); those recorded so far, in
// order; and forgetting them.
void record_queue_event(const char *udn, int renderer, uint32_t event, uint32_t index, uint32_t pending, int error);
std::vector<std::string> queue_events();
void clear_queue_events();

// Threads of this process but the HTTP layer's process-wide socket
// watchdog, -1 when unknown.
long thread_count();
// The names of this process's threads, blank-separated (for messages).
std::string thread_names();

// The XML interface: the response to a request ("" for none), and the
// result code of a response ("none" when it has none).
std::string api_query(const std::string &xml);
std::string result_code(const std::string &response);
// text with <, >, " and & written as entities.
std::string xml_escape(const std::string &text);
// A renderer's GetTransportInfo answer in the given state.
std::string transport_info(const std::string &state);

class NmcTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // lm_nmc_init with "--logfile" into the temporary folder and any extra
  // words; its result.
  int start(const std::vector<std::string> &extra = {}, int install_signals = 0);
  // lm_nmc_stop and the wait for "Stopped" (true when it came in time).
  bool stop_and_wait();

  std::unique_ptr<test_support::TempDir> dir_;
  std::string log_path_;
};

}  // namespace nmc_test

#endif
