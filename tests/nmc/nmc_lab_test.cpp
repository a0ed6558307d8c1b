// The controller against the lab's peers (run through tests/lab/lab.sh): the
// device lists hold the lab's server and renderers sorted by name, and a
// renderer that stops and starts again reaches every renderer context as
// removed, then added.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
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

using cp_lab::env;
using test_support::wait_until;

struct Delivery {
  uint32_t context;
  uint32_t code;
  std::string text;
};
// Guards the deliveries: the renderer notifier writes, the test reads.
std::mutex g_mutex;
std::vector<Delivery> g_deliveries;
void on_renderer(uint32_t context, uint32_t code, const char *text) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_deliveries.push_back({context, code, text != nullptr ? text : ""});
}
// The list changes of one renderer delivered to a context, in order.
std::vector<uint32_t> list_changes(uint32_t context, const std::string &udn) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::vector<uint32_t> codes;
  for (const Delivery &d : g_deliveries) {
    if (d.context == context && d.text == udn && (d.code == 0x4001 || d.code == 0x4002)) codes.push_back(d.code);
  }
  return codes;
}

// When the watched renderer last announced itself (a byebye within a second
// of an alive is ignored by the control point).
std::string g_watched;
std::atomic<std::chrono::steady_clock::rep> g_last_alive{0};
void observe(int added, const char *, const char *udn, const char *, unsigned int, int, int) {
  if (added && udn != nullptr && g_watched == udn) {
    g_last_alive = std::chrono::steady_clock::now().time_since_epoch().count();
  }
}

bool listed(int side, const std::string &udn) {
  for (const nmc_device_view &device : nmc_devices_list(side)) {
    if (device.udn == udn) return true;
  }
  return false;
}

class NmcLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    peers_ = cp_lab::peers();
    ASSERT_GE(peers_.size(), 3u);
    ASSERT_TRUE(wait_until(
        [&] {
          for (const cp_lab::Peer &p : peers_) {
            if (!listed(p.kind == 1 ? NMC_SIDE_SERVER : NMC_SIDE_RENDERER, p.udn)) return false;
          }
          return true;
        },
        30000));
  }
  void TearDown() override {
    if (!cp_lab::inside_lab()) return;
    NmcTest::TearDown();
  }
  std::vector<cp_lab::Peer> peers_;
};

TEST_F(NmcLabTest, ListsHoldTheLabsDevicesSortedByName) {
  for (int side : {NMC_SIDE_SERVER, NMC_SIDE_RENDERER}) {
    std::vector<nmc_device_view> list = nmc_devices_list(side);
    for (size_t i = 1; i < list.size(); ++i) {
      EXPECT_LE(nmc_name_compare(list[i - 1].name.c_str(), list[i].name.c_str()), 0)
          << list[i - 1].name << " before " << list[i].name;
    }
    // The lab's peers of this side, in list order, are in name order too,
    // and the list names them as they announce themselves.
    std::vector<std::string> names;
    for (const nmc_device_view &device : list) {
      for (const cp_lab::Peer &p : peers_) {
        if (p.udn != device.udn) continue;
        names.push_back(device.name);
        EXPECT_EQ(device.name, p.name);
      }
    }
    std::vector<std::string> sorted;
    for (const cp_lab::Peer &p : peers_) {
      if ((p.kind == 1) == (side == NMC_SIDE_SERVER)) sorted.push_back(p.name);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string &a, const std::string &b) { return nmc_name_compare(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(names, sorted);
  }
  // The XML list answers in the same order.
  char *response = lm_nmc_api_query("<GetRendererList/>", 1);
  ASSERT_NE(response, nullptr);
  std::string text = cp_lab::take(response);
  size_t last = 0;
  for (const nmc_device_view &device : nmc_devices_list(NMC_SIDE_RENDERER)) {
    size_t at = text.find("<UDN>" + device.udn + "</UDN>");
    ASSERT_NE(at, std::string::npos) << device.udn;
    EXPECT_GT(at, last);
    last = at;
  }
}

TEST_F(NmcLabTest, StoppedRendererReachesEveryContextRemovedThenAdded) {
  uint32_t contexts[2] = {0, 0};
  for (uint32_t &context : contexts) {
    ASSERT_EQ(lm_dmrcp_create_context(&context), 0u);
    ASSERT_EQ(lm_dmrcp_register_callback(context, on_renderer), 0u);
  }
  const std::string udn = env("LAB_RENDERER1_UDN");
  g_watched = udn;
  g_last_alive = std::chrono::steady_clock::now().time_since_epoch().count();
  upnp_cp_set_call_observer(observe);
  auto quiet = [] {
    auto last = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(g_last_alive.load()));
    return std::chrono::steady_clock::now() - last > std::chrono::seconds(2);
  };
  ASSERT_TRUE(wait_until(quiet, 60000));
  // Contexts created after the start also get the renderers already listed
  // as added once the notifier starts (1.5 s after the start): count from
  // here.
  size_t before[2];
  for (int i = 0; i < 2; ++i) before[i] = list_changes(contexts[i], udn).size();
  auto since = [&](int i) {
    std::vector<uint32_t> codes = list_changes(contexts[i], udn);
    return std::vector<uint32_t>(codes.begin() + static_cast<long>(std::min(before[i], codes.size())), codes.end());
  };
  ASSERT_EQ(cp_lab::lab("stop renderer1"), 0);
  upnp_cp_set_call_observer(nullptr);
  const bool removed = wait_until([&] { return !listed(NMC_SIDE_RENDERER, udn); }, 10000) &&
                       wait_until([&] {
                         return since(0).size() == 1 && since(1).size() == 1;
                       }, 5000);
  // The peer comes back whatever happened above: the shared lab stays whole.
  ASSERT_EQ(cp_lab::lab("start renderer1"), 0);
  ASSERT_TRUE(removed);
  ASSERT_TRUE(wait_until([&] { return listed(NMC_SIDE_RENDERER, udn); }, 20000));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(wait_until([&] { return since(i).size() == 2; }, 5000)) << contexts[i];
    EXPECT_EQ(since(i), (std::vector<uint32_t>{0x4001, 0x4002})) << contexts[i];
  }
}

}  // namespace
