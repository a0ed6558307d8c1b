// The renderer control point against the lab's gmediarender instances
// (run through tests/lab/lab.sh), each playing an MP3 of the lab's media
// server put on it with SetAVTransportURI: state, position and duration
// follow the track; pause, resume, seeks (a percent seek included), volume
// and mute act and read back; a stopped renderer refuses a pause with 701;
// two contexts drive the two renderers at once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp/upnp_cp_seek.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

// The id of the child of `parent` titled `title`, or "".
std::string child(int server, const std::string &parent, const std::string &title) {
  upnp_xml_node *reply = nullptr;
  if (upnp_control_browse(server, parent.c_str(), "*", 0, 200, nullptr, &reply) != 0) return "";
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result != nullptr ? upnp_xml_parse(result) : nullptr;
  std::string id;
  for (upnp_xml_node *e = doc != nullptr ? doc->children : nullptr; e != nullptr && id.empty(); e = e->next) {
    const char *t = upnp_xml_find_tag_value(e->children, "dc:title");
    if (t != nullptr && title == t) id = upnp_xml_find_attribute_value(e, "id");
  }
  upnp_xml_release(doc);
  upnp_xml_release(reply);
  return id;
}

uint64_t ms_of(const char *text) {
  uint64_t ms = 0;
  upnp_cp_time_to_ms(text, &ms);
  return ms;
}

struct State {
  lm_nmc_result_t result;
  uint32_t state;
  uint64_t position;
  uint64_t duration;
};
State read_state(uint32_t context) {
  State s{0, 99, 0, 0};
  char position[32] = "";
  char duration[32] = "";
  s.result = lm_dmrcp_get_state(context, &s.state, sizeof position, position, sizeof duration, duration);
  s.position = ms_of(position);
  s.duration = ms_of(duration);
  return s;
}
bool wait_state(uint32_t context, uint32_t want, int ms = 10000) {
  return wait_until([&] { return read_state(context).state == want; }, ms);
}

class NmcDmrLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    for (const char *var : {"LAB_RENDERER1_UDN", "LAB_RENDERER2_UDN"}) {
      udns_.push_back(cp_lab::env(var));
      ASSERT_TRUE(wait_until(
          [&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udns_.back().c_str(), nullptr); }, 30000))
          << var;
      uint32_t context = 0;
      ASSERT_EQ(lm_dmrcp_create_context(&context), LM_NMC_OK);
      ASSERT_EQ(lm_dmrcp_go_bookmark(context, udns_.back().c_str()), LM_NMC_OK);
      contexts_.push_back(context);
    }
    nmc_device_view server;
    ASSERT_TRUE(wait_until(
        [&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, cp_lab::env("LAB_SERVER_UDN").c_str(), &server); },
        30000));
    server_ = server.index;
    std::string id = "0";
    for (const char *title : {"Music", "All Music", "Long Tone"}) {
      id = child(server_, id, title);
      ASSERT_FALSE(id.empty()) << title;
    }
    track_ = id;
  }
  void TearDown() override {
    if (!cp_lab::inside_lab()) return;
    for (uint32_t context : contexts_) lm_dmrcp_stop(context);  // the shared lab's renderers stay stopped
    NmcTest::TearDown();
  }
  // Puts the lab's 30-second MP3 on the context's renderer and plays it.
  void play(uint32_t context, const std::string &udn) {
    nmc_device_view renderer;
    ASSERT_TRUE(nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), &renderer));
    upnp_xml_node *tree = nullptr;
    upnp_xml_node *res = nullptr;
    ASSERT_EQ(upnp_cp_put_best_AVTransportURI(renderer.index, server_, track_.c_str(), &tree, &res), 0);
    upnp_xml_release(tree);
    ASSERT_EQ(upnp_play(renderer.index), 0);
    ASSERT_TRUE(wait_state(context, LM_DMR_PLAYING)) << udn;
  }

  std::vector<std::string> udns_;
  std::vector<uint32_t> contexts_;
  int server_ = -1;
  std::string track_;
};

TEST_F(NmcDmrLabTest, StateTransportSeeksVolumeAndMute) {
  const uint32_t context = contexts_[0];
  play(context, udns_[0]);
  ASSERT_TRUE(wait_until([&] { return read_state(context).position >= 1000; }, 5000));
  State s = read_state(context);
  EXPECT_EQ(s.result, LM_NMC_OK);
  EXPECT_NEAR(static_cast<double>(s.duration), 30000.0, 1500.0);

  EXPECT_EQ(lm_dmrcp_pause(context, 0), LM_NMC_OK);
  ASSERT_TRUE(wait_state(context, LM_DMR_PAUSED_PLAYBACK));
  const uint64_t paused_at = read_state(context).position;
  Sleep(1500);
  EXPECT_LE(read_state(context).position, paused_at + 1000) << "the position stands while paused";
  EXPECT_EQ(lm_dmrcp_pause(context, 0), LM_NMC_OK) << "pausing a paused renderer does nothing";
  EXPECT_EQ(lm_dmrcp_pause(context, 1), LM_NMC_OK);
  ASSERT_TRUE(wait_state(context, LM_DMR_PLAYING));
  EXPECT_EQ(lm_dmrcp_pause(context, 1), LM_NMC_OK) << "resuming a playing renderer does nothing";

  // A percent seek on an MP3 of the lab's server succeeds (by time when
  // the renderer offers no byte seek).
  EXPECT_EQ(lm_dmrcp_seek_percent(context, 50), LM_NMC_OK);
  ASSERT_TRUE(wait_until([&] { return read_state(context).position >= 14000; }, 5000))
      << read_state(context).position;
  EXPECT_EQ(lm_dmrcp_seek_time(context, -4000), LM_NMC_OK) << "a negative position is sent as 0";
  ASSERT_TRUE(wait_until([&] { return read_state(context).position < 10000; }, 5000));
  EXPECT_EQ(lm_dmrcp_seek_time(context, 20000), LM_NMC_OK);
  ASSERT_TRUE(wait_until([&] { return read_state(context).position >= 19000; }, 5000));
  uint32_t bits = 0;
  EXPECT_EQ(lm_dmrcp_get_seek_capabilities(context, &bits), LM_NMC_OK);
  EXPECT_NE(bits & LM_DMR_SEEK_TIME, 0u);

  const struct {
    uint32_t set;
    uint32_t read;
  } volumes[] = {{30, 30}, {150, 100}, {0, 0}, {45, 45}};
  for (const auto &v : volumes) {
    EXPECT_EQ(lm_dmrcp_set_volume_percent(context, v.set), LM_NMC_OK);
    uint32_t percent = 999;
    EXPECT_EQ(lm_dmrcp_get_volume_percent(context, &percent), LM_NMC_OK);
    EXPECT_EQ(percent, v.read) << v.set;
  }
  for (int on : {1, 0}) {
    EXPECT_EQ(lm_dmrcp_set_mute(context, on), LM_NMC_OK);
    int read = 7;
    EXPECT_EQ(lm_dmrcp_get_mute(context, &read), LM_NMC_OK);
    EXPECT_EQ(read, on);
  }

  EXPECT_EQ(lm_dmrcp_stop(context), LM_NMC_OK);
  ASSERT_TRUE(wait_state(context, LM_DMR_STOPPED));
  EXPECT_EQ(lm_dmrcp_pause(context, 0), 701u);
  EXPECT_EQ(lm_dmrcp_pause(context, 1), 701u);
}

TEST_F(NmcDmrLabTest, TwoContextsDriveTwoRenderersAtOnce) {
  play(contexts_[0], udns_[0]);
  play(contexts_[1], udns_[1]);
  auto drive = [](uint32_t context, uint32_t volume, lm_nmc_result_t *failed) {
    for (int i = 0; i < 10; ++i) {
      uint32_t read = 0;
      lm_nmc_result_t rc = lm_dmrcp_set_volume_percent(context, volume + static_cast<uint32_t>(i));
      if (rc == 0) rc = lm_dmrcp_get_volume_percent(context, &read);
      if (rc == 0 && read != volume + static_cast<uint32_t>(i)) rc = 999;
      if (rc != 0) *failed = rc;
    }
  };
  lm_nmc_result_t failed[2] = {0, 0};
  std::thread a(drive, contexts_[0], 10u, &failed[0]);
  std::thread b(drive, contexts_[1], 60u, &failed[1]);
  a.join();
  b.join();
  EXPECT_EQ(failed[0], 0u);
  EXPECT_EQ(failed[1], 0u);
  uint32_t percent[2] = {0, 0};
  EXPECT_EQ(lm_dmrcp_get_volume_percent(contexts_[0], &percent[0]), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_get_volume_percent(contexts_[1], &percent[1]), LM_NMC_OK);
  EXPECT_EQ(percent[0], 19u);
  EXPECT_EQ(percent[1], 69u);
  EXPECT_EQ(lm_dmrcp_pause(contexts_[0], 0), LM_NMC_OK);
  ASSERT_TRUE(wait_state(contexts_[0], LM_DMR_PAUSED_PLAYBACK));
  EXPECT_EQ(read_state(contexts_[1]).state, LM_DMR_PLAYING) << "the other renderer plays on";
}

}  // namespace
