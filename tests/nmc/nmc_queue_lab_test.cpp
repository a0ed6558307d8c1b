// Renderer queues on the lab's gmediarender playing in real time: three 2 s
// tracks of the lab server's bulk container play in turn and end the queue
// with the right events; URL entries of the file server's 3 s WAV are
// consumed one by one (gmediarender takes any URL and reports a file it
// cannot fetch as PLAYING, so it cannot show a skip); a stop by
// someone else early in the 30 s track ends the queue instead of advancing.
// Run through tests/lab/lab.sh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;
using nmc_test::queue_events;


std::string query(const std::string &xml) { return cp_lab::take(lm_nmc_api_query(xml.c_str(), 1)); }

class NmcQueueLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    udn_ = cp_lab::env("LAB_RENDERER1_UDN");
    nmc_device_view renderer;
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn_.c_str(), &renderer); }, 30000));
    renderer_ = renderer.index;
    nmc_device_view server;
    server_udn_ = cp_lab::env("LAB_SERVER_UDN");
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, server_udn_.c_str(), &server); }, 30000));
    server_ = server.index;
    ASSERT_TRUE(wait_until([&] { return (queue_ = nmc_queue_find(udn_)) != nullptr; }, 5000));
    queue_->callback = nmc_test::record_queue_event;
    nmc_test::clear_queue_events();
  }
  void TearDown() override {
    if (!cp_lab::inside_lab()) return;
    upnp_stop(renderer_);  // the shared lab's renderer stays stopped
    queue_.reset();
    NmcTest::TearDown();
  }
  // The object id under a title path from the root ("A/B/C").
  std::string path_id(const std::string &path) {
    std::string id = "0";
    size_t from = 0;
    while (from <= path.size() && !id.empty()) {
      size_t slash = path.find('/', from);
      std::string title = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
      std::vector<std::string> found = cp_lab::child_ids(server_, id, title, 1);
      id = found.empty() ? "" : found[0];
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
    return id;
  }
  void add_object(const std::string &id) {
    std::string response = query("<AddToQueue><QueueID>" + udn_ + "</QueueID><ServerUDN>" + server_udn_ +
                                 "</ServerUDN><ObjectID>" + id + "</ObjectID></AddToQueue>");
    ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
  }
  std::string play() { return query("<PlayQueue><QueueID>" + udn_ + "</QueueID><StartIndex>0</StartIndex></PlayQueue>"); }

  std::string udn_;
  std::string server_udn_;
  int renderer_ = -1;
  int server_ = -1;
  nmc_queue_ref queue_;
};

TEST_F(NmcQueueLabTest, ShortTracksPlayInTurnAndEndTheQueue) {
  const std::string bulk = path_id(cp_lab::env("LAB_BULK_PATH"));
  ASSERT_FALSE(bulk.empty());
  std::vector<std::string> tracks = cp_lab::child_ids(server_, bulk, "", 3);
  ASSERT_EQ(tracks.size(), 3u);
  for (const std::string &id : tracks) add_object(id);
  const uint64_t started = getSystemTime();
  std::string response = play();
  ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
  ASSERT_TRUE(wait_until([] { return queue_events().size() == 4; }, 20000))
      << ::testing::PrintToString(queue_events());
  EXPECT_EQ(queue_events(),
            std::vector<std::string>({"Playing 0 2", "Playing 1 1", "Playing 2 0", "Stopped 2 0"}));
  // Three 2 s tracks in real time, with the track changes between them.
  EXPECT_GE(getSystemTime() - started, 5000u);
  std::string info = query("<GetQueueInfo><QueueID>" + udn_ + "</QueueID></GetQueueInfo>");
  EXPECT_NE(info.find("<Active>false</Active>"), std::string::npos) << info;
}

TEST_F(NmcQueueLabTest, UrlEntriesAreConsumed) {
  const std::string wav = cp_lab::http_url("media/music/tone-3s.wav");
  for (const std::string &url : {wav, wav}) {
    std::string response = query("<AddToQueue><QueueID>" + udn_ + "</QueueID><URL>" + url + "</URL></AddToQueue>");
    ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
  }
  std::string response = query("<PlayQueue><QueueID>" + udn_ + "</QueueID><StartIndex>0</StartIndex>"
                               "<Consume>true</Consume></PlayQueue>");
  ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
  ASSERT_TRUE(
      wait_until([] { return !queue_events().empty() && queue_events().back().rfind("Stopped", 0) == 0; }, 25000))
      << ::testing::PrintToString(queue_events());
  // Each finished entry left the queue: pending counted down to nothing.
  EXPECT_EQ(queue_events(), std::vector<std::string>({"Playing 0 1", "Playing 0 0", "Stopped 0 0"}));
  std::string info = query("<GetQueueInfo><QueueID>" + udn_ + "</QueueID></GetQueueInfo>");
  EXPECT_NE(info.find("<Count>0</Count>"), std::string::npos) << info;
}

TEST_F(NmcQueueLabTest, StopBySomeoneElseEarlyInALongTrackEndsTheQueue) {
  std::string long_tone;
  for (const std::string &id : {path_id("Music/All Music/Long Tone")}) long_tone = id;
  ASSERT_FALSE(long_tone.empty());
  add_object(long_tone);
  add_object(long_tone);
  std::string response = play();
  ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
  ASSERT_EQ(cp_lab::wait_transport_state(renderer_, "PLAYING", 10), "PLAYING");
  Sleep(3000);
  // Another control point stops the renderer (the raw action, not the
  // controller's "Stop").
  ASSERT_EQ(upnp_stop(renderer_), 0);
  ASSERT_TRUE(wait_until([] { return queue_events().size() == 2; }, 10000))
      << ::testing::PrintToString(queue_events());
  EXPECT_EQ(queue_events(), std::vector<std::string>({"Playing 0 1", "Stopped 0 1"}));
  Sleep(1500);
  EXPECT_EQ(cp_lab::wait_transport_state(renderer_, "STOPPED", 1), "STOPPED") << "no advance to the second entry";
}

}  // namespace
