// The device table under a flood in the lab (tests/lab/lab.sh run): 1,000
// NOTIFY ssdp:alive for unknown renderers and servers, sent from the peers'
// namespace within a few seconds (cp_scale_ssdp.py flood), whose
// descriptions do not exist. The tables stay within their sizes, the threads
// and the library's memory come back to where they were, none of the unknown
// devices is added, and the lab's real peers keep their indices without a
// "removed" event.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp_lab_util.h"
#include "cp_test_util.h"

using cp_lab::env;
using cp_test::CpTest;
using cp_test::wait_until;
using Peer = cp_lab::Peer;

namespace {

constexpr int kFlood = 1000;
constexpr int kFloodSeconds = 4;

int threads_now() { return static_cast<int>(cp_test::process_status_value("Threads")); }

std::atomic<int> g_flood_calls{0};

void observe(int added, const char *, const char *udn, const char *, unsigned int, int, int) {
  if (added && udn != nullptr && std::strncmp(udn, "uuid:cp-flood-", 14) == 0) ++g_flood_calls;
}

class ScaleLabTest : public CpTest {
 protected:
  static void SetUpTestSuite() {
    if (!cp_lab::inside_lab()) return;
    cp_lab::init_settings();
    s_log = std::make_unique<cp_test::LogFile>();
    upnp_log_set_level(LOG_LEVEL_WARNING);  // one line per refused device, no datagram dumps
    s_started = cp_lab::start_control_point("9040");
    upnp_control_register_callback(&CpTest::callback);
  }
  static void TearDownTestSuite() {
    if (s_started) {
      upnp_cp_set_call_observer(nullptr);
      upnp_control_exit();
      upnp_ini_file_release_on_exit();
    }
    s_log.reset();
  }
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    ASSERT_TRUE(s_started);
  }
  void TearDown() override {}
  bool usable(const Peer &p) {
    int index = index_of(p.udn, p.kind);
    return index >= 0 && upnp_cp_isValidIndex(index, p.kind);
  }
  // Slots of kind that are not free, and whether any is still loading.
  static int taken(int kind, bool *loading) {
    int n = 0;
    for (int i = 0; i < 64; ++i) {
      int state = upnp_control_get_device_state(i, kind);
      if (state > 0) ++n;
      if (state == static_cast<int>(UPNP_CP_STATE_LOADING) && loading != nullptr) *loading = true;
    }
    return n;
  }
  static bool s_started;
  static std::unique_ptr<cp_test::LogFile> s_log;
};

bool ScaleLabTest::s_started = false;
std::unique_ptr<cp_test::LogFile> ScaleLabTest::s_log;

TEST_F(ScaleLabTest, AFloodOfUnknownDevicesLeavesTheTablesBoundedAndTheKnownOnesAlone) {
  std::vector<Peer> peers = cp_lab::peers();
  ASSERT_GE(peers.size(), 2u);
  ASSERT_TRUE(wait_until([&] { return std::all_of(peers.begin(), peers.end(), [&](const Peer &p) { return usable(p); }); },
                         15000));
  for (Peer &p : peers) p.index = index_of(p.udn, p.kind);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // loaders of the peers' repeated answers done
  {
    std::lock_guard<std::mutex> hold(s_mutex);
    s_events.clear();
  }
  const int threads_before = threads_now();
  const int64_t memory_before = upnp_mem_used();
  const int sizes[2] = {30, 30};  // the configured table sizes (defaults)
  EXPECT_EQ(upnp_control_get_device_state(sizes[0], 1), -1);
  EXPECT_EQ(upnp_control_get_device_state(sizes[1], 2), -1);

  upnp_cp_set_call_observer(&observe);
  std::string prefix = env("LAB_HTTP_URL") + "desc/cp-flood-";
  pid_t flood = fork();
  if (flood == 0) {
    std::string ns = env("LAB_PEERS_NS_PID");
    execlp("nsenter", "nsenter", "-t", ns.c_str(), "-n", "--", "python3", CP_SCALE_SSDP_SCRIPT, "flood",
           std::to_string(kFlood).c_str(), std::to_string(kFloodSeconds).c_str(), prefix.c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(flood, 0);
  int peak_threads = threads_before, peak_taken = 0, status = -1;
  auto start = std::chrono::steady_clock::now();
  bool flood_done = false;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(kFloodSeconds + 20)) {
    peak_threads = std::max(peak_threads, threads_now());
    peak_taken = std::max({peak_taken, taken(1, nullptr), taken(2, nullptr)});
    if (!flood_done && waitpid(flood, &status, WNOHANG) == flood) flood_done = true;
    bool loading = false;
    taken(1, &loading);
    taken(2, &loading);
    if (flood_done && !loading && threads_now() <= threads_before) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!flood_done) {
    kill(flood, SIGKILL);
    waitpid(flood, &status, 0);
  }
  upnp_cp_set_call_observer(nullptr);
  ASSERT_TRUE(flood_done && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "flood sender status " << status;
  std::printf("flood: %d of %d announcements reached the table; threads %d before, peak %d, %d after; "
              "slots taken at most %d; library memory %+lld bytes; refused as too many: %d\n",
              g_flood_calls.load(), kFlood, threads_before, peak_threads, threads_now(), peak_taken,
              static_cast<long long>(upnp_mem_used() - memory_before), s_log->count("Too many devices: cannot add uuid:cp-flood-"));

  // Most of the flood arrived (datagrams may be dropped on a busy machine).
  EXPECT_GE(g_flood_calls.load(), kFlood / 2);
  // Bounded: no table grew, the loaders are bounded by the slots (a loader
  // that gave its slot back may still be ending while the slot's next one
  // starts), and all of it is given back once they are done.
  EXPECT_LE(peak_taken, 30);
  EXPECT_LE(peak_threads, threads_before + 2 * (sizes[0] + sizes[1]) + 8);
  EXPECT_TRUE(wait_until([&] { return threads_now() <= threads_before; }, 5000)) << threads_now();
  EXPECT_LE(upnp_mem_used() - memory_before, 16 * 1024) << "library memory kept after the flood";
  for (int i = 0; i < kFlood; ++i) {
    char udn[40];
    std::snprintf(udn, sizeof udn, "uuid:cp-flood-%06d", i);
    ASSERT_EQ(upnp_control_get_device_index(udn, 1), -1) << udn;
    ASSERT_EQ(upnp_control_get_device_index(udn, 2), -1) << udn;
  }
  // The known devices: same index, still usable, no event either way.
  for (const Peer &p : peers) {
    EXPECT_EQ(index_of(p.udn, p.kind), p.index) << p.name;
    EXPECT_TRUE(usable(p)) << p.name;
    char name[80];
    ASSERT_EQ(upnp_control_get_device_name(p.index, name, sizeof name, p.kind), 0);
    EXPECT_EQ(p.name, name);
  }
  wait_until([] { return false; }, 500);  // the notifier's next round
  EXPECT_TRUE(events().empty()) << events().size() << " events, first for " << events()[0].name;
}

}  // namespace
