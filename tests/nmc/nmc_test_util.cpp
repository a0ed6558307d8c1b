#include "nmc_test_util.h"

#include <filesystem>
#include <fstream>
#include <mutex>

#include "base/upnp_mem.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"

namespace nmc_test {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_calls;
}  // namespace

void record_state(const char *name, const char *value) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_calls.push_back(std::string(name != nullptr ? name : "<null>") + "=" + (value != nullptr ? value : "<null>"));
}

std::vector<std::string> state_calls() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_calls;
}

void clear_state_calls() {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_calls.clear();
}

int count_state_call(const std::string &call) {
  int count = 0;
  for (const std::string &seen : state_calls()) count += seen == call ? 1 : 0;
  return count;
}

long thread_count() {
  // The HTTP layer's socket watchdog starts with the first exchange and
  // lives as long as the process: not a thread of the controller.
  long count = 0;
  std::error_code error;
  for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name != "SocketRelease") ++count;
  }
  return error ? -1 : count;
}

std::string thread_names() {
  std::string names;
  std::error_code error;
  for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    names += name + " ";
  }
  return names;
}

void NmcTest::SetUp() {
  dir_ = std::make_unique<test_support::TempDir>("nmc_test");
  log_path_ = (dir_->path() / "nmc-log.txt").string();
  nmc_set_network(0);
  lm_nmc_set_appdata_path(dir_->path().c_str());
  clear_state_calls();
  lm_nmc_register_state_callback(record_state);
}

void NmcTest::TearDown() {
  EXPECT_TRUE(stop_and_wait());
  lm_nmc_register_state_callback(nullptr);
  lm_nmc_set_appdata_path(nullptr);
}

int NmcTest::start(const std::vector<std::string> &extra, int install_signals) {
  std::vector<std::string> words = {"nmc_test", "--logfile", log_path_};
  words.insert(words.end(), extra.begin(), extra.end());
  std::vector<const char *> argv;
  for (const std::string &word : words) argv.push_back(word.c_str());
  return lm_nmc_init(static_cast<int>(argv.size()), argv.data(), install_signals);
}

bool NmcTest::stop_and_wait() {
  lm_nmc_stop();
  return nmc_wait_stopped(20000);
}

std::string api_query(const std::string &xml) {
  char *response = lm_nmc_api_query(xml.c_str(), 1);
  std::string text = response != nullptr ? response : "";
  upnp_free_impl(response);
  return text;
}

std::string result_code(const std::string &response) {
  size_t at = response.find("<Result code=\"");
  return at == std::string::npos ? "none" : response.substr(at + 14, response.find('"', at + 14) - at - 14);
}

std::string xml_escape(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : c == '&' ? "&amp;" : std::string(1, c);
  return out;
}

std::string transport_info(const std::string &state) {
  return "<CurrentTransportState>" + state +
         "</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>";
}

namespace {
// The queue's worker calls in while a test reads.
std::mutex g_queue_lock;
std::vector<std::string> g_queue_events;
}  // namespace

void record_queue_event(const char *, int, uint32_t event, uint32_t index, uint32_t pending, int) {
  if (event != NMC_QUEUE_PLAYING && event != NMC_QUEUE_STOPPED) return;
  std::lock_guard<std::mutex> hold(g_queue_lock);
  g_queue_events.push_back(std::string(nmc_queue_event_name(event)) + " " + std::to_string(index) + " " +
                           std::to_string(pending));
}

std::vector<std::string> queue_events() {
  std::lock_guard<std::mutex> hold(g_queue_lock);
  return g_queue_events;
}

void clear_queue_events() {
  std::lock_guard<std::mutex> hold(g_queue_lock);
  g_queue_events.clear();
}

}  // namespace nmc_test
