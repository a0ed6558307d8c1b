// The controller against the lab's peers (run through tests/lab/lab.sh): the
// device lists hold the lab's server and renderers sorted by name, and a
// renderer that stops and starts again reaches every renderer context as
// removed, then added.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cp/upnp_cp.h"
#include "cp_lab_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_text.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;
using Clock = std::chrono::steady_clock;

// (context, code, text) of every renderer callback; the notifier writes,
// the test reads.
std::mutex g_mutex;
std::vector<std::tuple<uint32_t, uint32_t, std::string>> g_calls;
void on_renderer(uint32_t context, uint32_t code, const char *text) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_calls.emplace_back(context, code, text != nullptr ? text : "");
}
std::vector<uint32_t> list_changes(uint32_t context, const std::string &udn) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::vector<uint32_t> codes;
  for (const auto &[to, code, text] : g_calls) {
    if (to == context && text == udn && (code == 0x4001 || code == 0x4002)) codes.push_back(code);
  }
  return codes;
}

// When the watched renderer last announced itself: the control point
// ignores a byebye within a second of an alive.
std::string g_watched;
std::atomic<Clock::rep> g_last_alive{0};
void observe(int added, const char *, const char *udn, const char *, unsigned int, int, int) {
  if (added && udn != nullptr && g_watched == udn) g_last_alive = Clock::now().time_since_epoch().count();
}

std::vector<std::string> listed(int side, const std::vector<cp_lab::Peer> &peers, bool names) {
  std::vector<std::string> out;
  for (const nmc_device_view &device : nmc_devices_list(side)) {
    for (const cp_lab::Peer &p : peers) {
      if (p.udn == device.udn) out.push_back(names ? device.name : device.udn);
    }
  }
  return out;
}
bool is_listed(const std::string &udn) {
  std::vector<std::string> udns = listed(NMC_SIDE_RENDERER, cp_lab::peers(), false);
  return std::find(udns.begin(), udns.end(), udn) != udns.end();
}

class NmcLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    ASSERT_GE(cp_lab::peers().size(), 3u);
    ASSERT_TRUE(wait_until(
        [] {
          return listed(NMC_SIDE_SERVER, cp_lab::peers(), false).size() +
                     listed(NMC_SIDE_RENDERER, cp_lab::peers(), false).size() ==
                 cp_lab::peers().size();
        },
        30000));
  }
  void TearDown() override {
    if (cp_lab::inside_lab()) NmcTest::TearDown();
  }
};

TEST_F(NmcLabTest, ListsHoldTheLabsDevicesSortedByName) {
  for (int side : {NMC_SIDE_SERVER, NMC_SIDE_RENDERER}) {
    std::vector<std::string> expected;
    for (const cp_lab::Peer &p : cp_lab::peers()) {
      if ((p.kind == 1) == (side == NMC_SIDE_SERVER)) expected.push_back(p.name);
    }
    std::sort(expected.begin(), expected.end(),
              [](const std::string &a, const std::string &b) { return nmc_name_compare(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(listed(side, cp_lab::peers(), true), expected) << side;
  }
}

TEST_F(NmcLabTest, StoppedRendererReachesEveryContextRemovedThenAdded) {
  uint32_t contexts[2] = {0, 0};
  for (uint32_t &context : contexts) {
    ASSERT_EQ(lm_dmrcp_create_context(&context), 0u);
    ASSERT_EQ(lm_dmrcp_register_callback(context, on_renderer), 0u);
  }
  const std::string udn = cp_lab::env("LAB_RENDERER1_UDN");
  g_watched = udn;
  g_last_alive = Clock::now().time_since_epoch().count();
  upnp_cp_set_call_observer(observe);
  ASSERT_TRUE(wait_until(
      [] { return Clock::now() - Clock::time_point(Clock::duration(g_last_alive.load())) > std::chrono::seconds(2); },
      60000));
  // Contexts opened after the start also get the renderers already listed as
  // added when the notifier starts (1.5 s after the start): count from here.
  size_t before[2] = {list_changes(contexts[0], udn).size(), list_changes(contexts[1], udn).size()};
  auto since = [&](int i) {
    std::vector<uint32_t> codes = list_changes(contexts[i], udn);
    return std::vector<uint32_t>(codes.begin() + static_cast<long>(std::min(before[i], codes.size())), codes.end());
  };
  ASSERT_EQ(cp_lab::lab("stop renderer1"), 0);
  upnp_cp_set_call_observer(nullptr);
  const bool removed = wait_until([&] { return !is_listed(udn) && since(0).size() == 1 && since(1).size() == 1; },
                                  10000);
  ASSERT_EQ(cp_lab::lab("start renderer1"), 0);  // whatever happened: the shared lab stays whole
  ASSERT_TRUE(removed);
  ASSERT_TRUE(wait_until([&] { return is_listed(udn); }, 20000));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(wait_until([&] { return since(i).size() == 2; }, 5000)) << contexts[i];
    EXPECT_EQ(since(i), (std::vector<uint32_t>{0x4001, 0x4002})) << contexts[i];
  }
}

}  // namespace
