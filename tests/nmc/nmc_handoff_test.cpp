// Handoff between crafted renderers on 127.0.0.1 (no network stack): the
// queue and entry that move, the seek by time or the start said so, and the
// failures that leave the old renderer playing and give the new one its
// own queue back.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_across.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc_dmr_crafted.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::api_query;
using nmc_test::CraftedRenderer;
using nmc_test::CraftedRendererSetup;
using nmc_test::result_code;
using nmc_test::transport_info;
using nmc_test::xml_escape;
using test_support::wait_until;

std::string position_info(const std::string &rel_time, const std::string &uri) {
  return "<Track>1</Track><TrackDuration>0:03:00</TrackDuration><TrackMetaData></TrackMetaData><TrackURI>" + uri +
         "</TrackURI><RelTime>" + rel_time + "</RelTime><AbsTime>" + rel_time +
         "</AbsTime><RelCount>0</RelCount><AbsCount>0</AbsCount>";
}

std::string didl(const std::string &title, const std::string &url) {
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
         "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item id=\"1\" parentID=\"0\" restricted=\"1\">"
         "<dc:title>" + title + "</dc:title><upnp:class>object.item.audioItem</upnp:class>"
         "<res protocolInfo=\"http-get:*:audio/mpeg:*\">" + url + "</res></item></DIDL-Lite>";
}

class NmcHandoffTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
    add("uuid:handoff-00000a", "Alpha Renderer", {"REL_TIME", "X_DLNA_REL_BYTE"});
    add("uuid:handoff-00000b", "Beta Renderer", {"REL_TIME", "X_DLNA_REL_BYTE"});
    add("uuid:handoff-00000c", "Gamma Renderer", {"X_DLNA_REL_BYTE"});
  }
  void TearDown() override {
    NmcTest::TearDown();
    renderers_.clear();
  }
  void add(const std::string &udn, const std::string &name, const std::vector<std::string> &seek_modes) {
    CraftedRendererSetup setup;
    setup.udn = udn;
    setup.name = name;
    setup.avt_variables = nmc_test::values_variable("A_ARG_TYPE_SeekMode", seek_modes);
    renderers_.push_back(std::make_unique<CraftedRenderer>(setup));
    upnp_control_add_device(renderers_.back()->location().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 2);
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), nullptr); }, 5000));
    ASSERT_TRUE(wait_until([&] { return nmc_queue_find(udn) != nullptr; }, 3000));
  }
  CraftedRenderer &r(size_t i) { return *renderers_[i]; }
  static std::string udn(size_t i) { return std::string("uuid:handoff-00000") + static_cast<char>('a' + i); }
  void queue(size_t i, const std::vector<std::string> &titles) {
    ASSERT_EQ(result_code(api_query("<ClearQueue><QueueID>" + udn(i) + "</QueueID></ClearQueue>")), "0");
    for (const std::string &title : titles) {
      const std::string url = "http://127.0.0.1:9/" + title + ".mp3";
      ASSERT_EQ(result_code(api_query("<AddToQueue><QueueID>" + udn(i) + "</QueueID><URL>" + url + "</URL><MetaData>" +
                                      xml_escape(didl(title, url)) + "</MetaData></AddToQueue>")),
                "0");
    }
  }
  std::string info(size_t i) { return api_query("<GetQueueInfo><QueueID>" + udn(i) + "</QueueID></GetQueueInfo>"); }

  std::vector<std::unique_ptr<CraftedRenderer>> renderers_;
};

TEST_F(NmcHandoffTest, WhatMovesAndWhatFailureLeavesPlaying) {
  struct Case {
    const char *what;
    size_t to;
    const char *from_state;  // the old renderer's transport state
    const char *to_state;    // what the new one reports after Play
    int play_fault;          // the new renderer's fault for Play, 0: none
    uint32_t wait_ms;
    lm_nmc_result_t code;
    const char *words;  // part of the report
    int seeks;          // Seek requests the new renderer got
    int old_stops;      // Stop requests the old renderer got
    const char *to_count;  // the new renderer's queue afterwards
  };
  const Case cases[] = {
      {"seeks by time", 1, "PLAYING", "PLAYING", 0, 0, 0,
       "handed off from \"Alpha Renderer\" to \"Beta Renderer\": entry 2 of 3 \"Two\" at 0:01:10", 1, 1, "3"},
      {"cannot seek by time", 2, "PLAYING", "PLAYING", 0, 0, 0,
       "entry 2 of 3 \"Two\" from the start (\"Gamma Renderer\" cannot seek by time)", 0, 1, "3"},
      {"refuses every entry", 1, "PLAYING", "PLAYING", 714, 0, 9,
       "handoff failed: \"Beta Renderer\" refused every entry of the queue; \"Alpha Renderer\" keeps playing", 0, 0,
       "1"},
      {"never plays", 1, "PLAYING", "STOPPED", 0, 600, 6,
       "handoff failed: \"Beta Renderer\" did not start playing within 600 ms (STOPPED); \"Alpha Renderer\" keeps playing",
       0, 0, "1"},
      {"nothing plays", 1, "STOPPED", "PLAYING", 0, 0, 9, "handoff failed: nothing plays on \"Alpha Renderer\" (STOPPED)",
       0, 0, "1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    queue(c.to, {"Own"});
    queue(0, {"One", "Two", "Three"});
    r(0).answer("GetTransportInfo", transport_info("PLAYING"));
    ASSERT_EQ(result_code(api_query("<PlayQueue><QueueID>" + udn(0) + "</QueueID><StartIndex>1</StartIndex></PlayQueue>")),
              "0");
    r(0).answer("GetTransportInfo", transport_info(c.from_state));
    r(0).answer("GetPositionInfo", position_info("0:01:10", "http://127.0.0.1:9/Two.mp3"));
    r(c.to).answer("GetTransportInfo", transport_info(c.to_state));
    r(c.to).answer("GetPositionInfo", position_info("0:01:10", "http://127.0.0.1:9/Two.mp3"));
    if (c.play_fault != 0) r(c.to).fault("Play", c.play_fault);
    for (size_t i = 0; i < 3; ++i) r(i).clear_sent();
    char report[512];
    EXPECT_EQ(lm_nmc_handoff(udn(0).c_str(), udn(c.to).c_str(), c.wait_ms, sizeof report, report), c.code);
    EXPECT_NE(std::string(report).find(c.words), std::string::npos) << report;
    EXPECT_EQ(r(c.to).count("Seek"), c.seeks);
    if (c.seeks > 0) {
      EXPECT_EQ(r(c.to).sent("Seek", "Target"), std::vector<std::string>{"00:01:10"});
    }
    EXPECT_EQ(r(0).count("Stop"), c.old_stops);
    const std::string queue_info = info(c.to);
    EXPECT_NE(queue_info.find("<Count>" + std::string(c.to_count) + "</Count>"), std::string::npos) << queue_info;
    if (c.code == 0) {
      EXPECT_EQ(r(c.to).sent("SetAVTransportURI", "CurrentURI"), std::vector<std::string>{"http://127.0.0.1:9/Two.mp3"});
      EXPECT_NE(queue_info.find("<CurrentIndex>1</CurrentIndex>"), std::string::npos) << queue_info;
    }
    r(c.to).answer("Play", "");  // no fault for the next case
  }
}

TEST_F(NmcHandoffTest, ATrackPlayedOutsideTheQueueMovesAsAQueueOfOne) {
  // Alpha's queue ended long ago and still names its last entry; Alpha now
  // plays a URL another control point gave it.
  queue(0, {"Old"});
  queue(1, {"Own"});
  r(0).answer("GetTransportInfo", transport_info("PLAYING"));
  ASSERT_EQ(result_code(api_query("<PlayQueue><QueueID>" + udn(0) + "</QueueID><StartIndex>0</StartIndex></PlayQueue>")),
            "0");
  nmc_device_view alpha;
  ASSERT_TRUE(nmc_devices_find_udn(NMC_SIDE_RENDERER, udn(0).c_str(), &alpha));
  nmc_queue_handle_state(alpha.index, 1);  // the entry plays to its end
  nmc_queue_handle_state(alpha.index, 0);
  ASSERT_TRUE(wait_until([&] { return info(0).find("<Active>false</Active>") != std::string::npos; }, 3000)) << info(0);
  ASSERT_NE(info(0).find("<CurrentIndex>0</CurrentIndex>"), std::string::npos) << info(0);
  r(0).answer("GetPositionInfo", position_info("0:00:42", "http://127.0.0.1:9/Outside.mp3"));
  r(1).answer("GetTransportInfo", transport_info("PLAYING"));
  r(1).answer("GetPositionInfo", position_info("0:00:42", "http://127.0.0.1:9/Outside.mp3"));
  r(0).clear_sent();
  r(1).clear_sent();
  char report[512];
  ASSERT_EQ(lm_nmc_handoff(udn(0).c_str(), udn(1).c_str(), 0, sizeof report, report), 0u) << report;
  EXPECT_NE(std::string(report).find("entry 1 of 1 at 0:00:42"), std::string::npos) << report;
  EXPECT_EQ(r(1).sent("SetAVTransportURI", "CurrentURI"), std::vector<std::string>{"http://127.0.0.1:9/Outside.mp3"});
  EXPECT_NE(info(1).find("<Count>1</Count>"), std::string::npos);
  EXPECT_EQ(r(0).count("Stop"), 1);
}

TEST_F(NmcHandoffTest, NamesThatAreRefused) {
  const struct {
    const char *from, *to;
    lm_nmc_result_t code;
    const char *words;
  } cases[] = {
      {"uuid:handoff-00000a", "uuid:handoff-00000a", 2,
       "handoff failed: \"Alpha Renderer\" is both the renderer to hand off from and the one to hand to"},
      {"0", "uuid:handoff-00000a", 2, "is both the renderer"},  // list position 0 is Alpha
      {"uuid:handoff-00000a", "uuid:nobody", 3, "handoff failed: no renderer \"uuid:nobody\" is listed"},
      {"7", "1", 3, "handoff failed: no renderer \"7\" is listed"},
      {"", "1", 2, "handoff failed: name the renderer to hand off from and the one to hand to"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
    char report[512];
    EXPECT_EQ(lm_nmc_handoff(c.from, c.to, 0, sizeof report, report), c.code);
    EXPECT_NE(std::string(report).find(c.words), std::string::npos) << report;
  }
  // A report cut to a small buffer stays a whole text.
  char small[16];
  EXPECT_EQ(lm_nmc_handoff("", "1", 0, sizeof small, small), 2u);
  EXPECT_EQ(std::string(small), "handoff failed:");
}

}  // namespace

namespace {

// A cancel before the queue moves, or while the new renderer has not yet
// played, leaves the old renderer playing and the new one its own queue.
TEST_F(NmcHandoffTest, ACancelLeavesTheOldRendererPlaying) {
  const struct {
    const char *what;
    int set_after_ms;  // -1: set before the call
    const char *words;
    int uri_sets;  // SetAVTransportURI requests the new renderer got
  } cases[] = {
      {"set before", -1, "handoff failed: cancelled; \"Alpha Renderer\" keeps playing", 0},
      {"set while waiting", 300,
       "handoff failed: cancelled before \"Beta Renderer\" played; \"Alpha Renderer\" keeps playing", 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    queue(1, {"Own"});
    queue(0, {"One", "Two"});
    r(0).answer("GetTransportInfo", transport_info("PLAYING"));
    ASSERT_EQ(result_code(api_query("<PlayQueue><QueueID>" + udn(0) + "</QueueID><StartIndex>0</StartIndex></PlayQueue>")),
              "0");
    r(0).answer("GetPositionInfo", position_info("0:00:20", "http://127.0.0.1:9/One.mp3"));
    r(1).answer("GetTransportInfo", transport_info("STOPPED"));  // never plays
    for (size_t i = 0; i < 2; ++i) r(i).clear_sent();
    uint32_t cancel = 0;
    ASSERT_EQ(lm_nmc_cancel_create(&cancel), 0u);
    if (c.set_after_ms < 0) lm_nmc_cancel_set(cancel);
    std::thread setter([&] {
      if (c.set_after_ms < 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.set_after_ms));
      lm_nmc_cancel_set(cancel);
    });
    char report[512];
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(lm_nmc_handoff_cancellable(udn(0).c_str(), udn(1).c_str(), 20000, cancel, sizeof report, report), 20u);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5)) << "the cancel was not looked at";
    setter.join();
    EXPECT_EQ(lm_nmc_cancel_delete(cancel), 0u);
    EXPECT_NE(std::string(report).find(c.words), std::string::npos) << report;
    EXPECT_EQ(r(0).count("Stop"), 0);
    EXPECT_EQ(r(1).count("SetAVTransportURI"), c.uri_sets);
    const std::string queue_info = info(1);
    EXPECT_NE(queue_info.find("<Count>1</Count>"), std::string::npos) << queue_info;
  }
}

}  // namespace
