// Renderer queues playing on crafted renderers on 127.0.0.1 and on the fake
// host player as local renderer (slideshows: nmc_queue_slideshow_test.cpp). The renderer's state events are handed to
// the queue as the subscription callback would (nmc_queue_handle_state).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "fake_player.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_ldmr.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_queue.h"
#include "nmc_dmr_crafted.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::CraftedRenderer;
using nmc_test::CraftedRendererSetup;
using test_support::wait_until;
using nmc_test::api_query;
using nmc_test::result_code;
using nmc_test::transport_info;
using nmc_test::xml_escape;

std::mutex g_lock;
std::vector<std::string> g_events;
void record(const char *, int, uint32_t event, uint32_t index, uint32_t pending, int) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_events.push_back(std::string(nmc_queue_event_name(event)) + " " + std::to_string(index) + " " +
                     std::to_string(pending));
}
std::vector<std::string> events() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_events;
}
// Only the "Playing" and "Stopped" events.
std::vector<std::string> play_events() {
  std::vector<std::string> out;
  for (const std::string &e : events()) {
    if (e.rfind("Playing", 0) == 0 || e.rfind("Stopped", 0) == 0) out.push_back(e);
  }
  return out;
}

std::string didl(const std::string &url, const std::string &mime, const std::string &duration) {
  std::string attributes = "protocolInfo=\"http-get:*:" + mime + ":*\"";
  if (!duration.empty()) attributes += " duration=\"" + duration + "\"";
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
         "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><item id=\"1\" parentID=\"0\" restricted=\"1\">"
         "<dc:title>t</dc:title><upnp:class>object.item</upnp:class><res " +
         attributes + ">" + url + "</res></item></DIDL-Lite>";
}

class NmcQueuePlayTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    {
      std::lock_guard<std::mutex> hold(g_lock);
      g_events.clear();
    }
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
    CraftedRendererSetup setup;
    setup.udn = udn_;
    setup.name = "Queue Renderer";
    renderer_ = std::make_unique<CraftedRenderer>(setup);
    renderer_->answer("GetTransportInfo", transport_info("PLAYING"));
    upnp_control_add_device(renderer_->location().c_str(), udn_.c_str(), "127.0.0.1:9000", 1800, 2);
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn_.c_str(), &view_); }, 5000));
    ASSERT_TRUE(wait_until([&] { return (queue_ = nmc_queue_find(udn_)) != nullptr; }, 3000))
        << "a renderer's queue is made when it is added";
    queue_->callback = record;
  }
  void TearDown() override {
    queue_.reset();
    NmcTest::TearDown();
    renderer_.reset();
  }
  std::string q() const { return "<QueueID>" + udn_ + "</QueueID>"; }
  void add_urls(const std::vector<std::string> &names, const std::string &mime = "audio/mpeg",
                const std::string &duration = "") {
    for (const std::string &name : names) {
      const std::string url = "http://127.0.0.1:9/" + name;
      ASSERT_EQ(result_code(api_query("<AddToQueue>" + q() + "<URL>" + url + "</URL><MetaData>" +
                           xml_escape(didl(url, mime, duration)) + "</MetaData></AddToQueue>")),
                "0");
    }
  }
  std::string play(const std::string &setup) { return result_code(api_query("<PlayQueue>" + q() + setup + "</PlayQueue>")); }
  // The names of the URIs the renderer was given, in order.
  std::vector<std::string> sent_uris() {
    std::vector<std::string> names;
    for (const std::string &uri : renderer_->sent("SetAVTransportURI", "CurrentURI")) {
      names.push_back(uri.substr(uri.rfind('/') + 1));
    }
    return names;
  }
  // One track ends the way a renderer reports it.
  void track_ends() {
    nmc_queue_handle_state(view_.index, 1);
    nmc_queue_handle_state(view_.index, 0);
  }

  const std::string udn_ = "uuid:queue-crafted-000001";
  std::unique_ptr<CraftedRenderer> renderer_;
  nmc_device_view view_;
  nmc_queue_ref queue_;
};

TEST_F(NmcQueuePlayTest, ModesDecideHowTheQueueAdvancesAndEnds) {
  struct Case {
    const char *setup;
    int ends;
    std::vector<std::string> uris;
    std::vector<std::string> events;
    size_t left;
  };
  const Case cases[] = {
      {"<PlayMode>NORMAL</PlayMode>", 3, {"a", "b", "c"},
       {"Playing 0 2", "Playing 1 1", "Playing 2 0", "Stopped 2 0"}, 3},
      {"<PlayMode>NORMAL</PlayMode><Repeat>true</Repeat>", 4, {"a", "b", "c", "a", "b"},
       {"Playing 0 2", "Playing 1 1", "Playing 2 0", "Playing 0 2", "Playing 1 1"}, 3},
      {"<PlayMode>NORMAL</PlayMode><Consume>true</Consume>", 3, {"a", "b", "c"},
       {"Playing 0 2", "Playing 0 1", "Playing 0 0", "Stopped 0 0"}, 0},
      {"<PlayMode>REPEAT_ONE</PlayMode>", 2, {"a", "a", "a"}, {"Playing 0 0", "Playing 0 0", "Playing 0 0"}, 3},
      {"<PlayMode>DIRECT_1</PlayMode>", 1, {"a"}, {"Playing 0 0", "Stopped 0 0"}, 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.setup);
    ASSERT_EQ(result_code(api_query("<ClearQueue>" + q() + "</ClearQueue>")), "0");
    {
      std::lock_guard<std::recursive_mutex> hold(queue_->lock);
      queue_->play = nmc_queue_play();
      queue_->play.renderer = view_.index;
    }
    add_urls({"a", "b", "c"});
    renderer_->clear_sent();
    {
      std::lock_guard<std::mutex> hold(g_lock);
      g_events.clear();
    }
    ASSERT_EQ(play("<StartIndex>0</StartIndex>" + std::string(c.setup)), "0");
    for (int i = 0; i < c.ends; ++i) track_ends();
    EXPECT_EQ(sent_uris(), c.uris);
    EXPECT_EQ(play_events(), c.events);
    std::lock_guard<std::recursive_mutex> hold(queue_->lock);
    EXPECT_EQ(queue_->entries.size(), c.left);
  }
}

TEST_F(NmcQueuePlayTest, StopsTheRendererReportsAdvanceOnceAndForeignStopsEnd) {
  add_urls({"a", "b", "c"}, "audio/mpeg", "0:05:00");
  ASSERT_EQ(play("<StartIndex>0</StartIndex>"), "0");
  // The controller's own track change: STOPPED before PLAYING is no end.
  nmc_queue_handle_state(view_.index, 0);
  EXPECT_EQ(sent_uris(), std::vector<std::string>({"a"}));
  // The track plays out: STOPPED twice advances once.
  nmc_queue_handle_state(view_.index, 1);
  {
    std::lock_guard<std::recursive_mutex> hold(queue_->lock);
    queue_->play.start_ms = getSystemTime() - 296000;
  }
  nmc_queue_handle_state(view_.index, 0);
  nmc_queue_handle_state(view_.index, 0);
  EXPECT_EQ(sent_uris(), std::vector<std::string>({"a", "b"}));
  // Someone else stops "b" after a moment of its 5 minutes: the queue ends.
  nmc_queue_handle_state(view_.index, 1);
  nmc_queue_handle_state(view_.index, 0);
  EXPECT_EQ(sent_uris(), std::vector<std::string>({"a", "b"}));
  EXPECT_EQ(play_events(), std::vector<std::string>({"Playing 0 2", "Playing 1 1", "Stopped 1 1"}));
  std::string info = api_query("<GetQueueInfo>" + q() + "</GetQueueInfo>");
  EXPECT_NE(info.find("<Active>false</Active>"), std::string::npos) << info;

  // The position poll corrects the start time and the duration.
  ASSERT_EQ(play(""), "0");
  renderer_->answer("GetPositionInfo",
                    "<Track>1</Track><TrackDuration>0:04:00</TrackDuration><TrackMetaData></TrackMetaData><TrackURI>"
                    "</TrackURI><RelTime>0:01:00</RelTime><AbsTime>0:01:00</AbsTime><RelCount>0</RelCount>"
                    "<AbsCount>0</AbsCount>");
  // The renderer's own events after the play mark the queue as freshly
  // told (no poll then): the poll is retried until none came in between.
  const uint64_t before = getSystemTime();
  EXPECT_TRUE(wait_until(
      [&] {
        {
          std::lock_guard<std::recursive_mutex> hold(queue_->lock);
          queue_->play.last_event_ms = 0;
        }
        nmc_queue_poll_position(view_.index);
        std::lock_guard<std::recursive_mutex> hold(queue_->lock);
        return queue_->play.duration_ms == 240000u;
      },
      3000));
  std::lock_guard<std::recursive_mutex> hold(queue_->lock);
  EXPECT_LE(queue_->play.start_ms, getSystemTime() - 60000);
  EXPECT_GE(queue_->play.start_ms + 60000, before);
}

TEST_F(NmcQueuePlayTest, AnEntryThatCannotBePlayedIsSkipped) {
  add_urls({"a"});
  {
    // An entry without URL and bookmark cannot be resolved (500).
    std::lock_guard<std::recursive_mutex> hold(queue_->lock);
    nmc_queue_insert(*queue_, nmc_queue_entry(), 1);
  }
  add_urls({"c"});
  ASSERT_EQ(play("<StartIndex>0</StartIndex>"), "0");
  track_ends();
  EXPECT_EQ(sent_uris(), std::vector<std::string>({"a", "c"}));
  EXPECT_EQ(play_events(), std::vector<std::string>({"Playing 0 2", "Playing 2 0"}));
}

TEST_F(NmcQueuePlayTest, UserStopEndsTheQueueAndNothingPlayableFailsWithoutLooping) {
  add_urls({"a", "b"});
  uint32_t context = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&context), LM_NMC_OK);
  ASSERT_EQ(lm_dmrcp_go_bookmark(context, udn_.c_str()), LM_NMC_OK);
  ASSERT_EQ(play("<StartIndex>0</StartIndex>"), "0");
  nmc_queue_handle_state(view_.index, 1);
  EXPECT_EQ(lm_dmrcp_stop(context), LM_NMC_OK);
  nmc_queue_handle_state(view_.index, 0);
  EXPECT_EQ(sent_uris(), std::vector<std::string>({"a"}));
  EXPECT_EQ(play_events(), std::vector<std::string>({"Playing 0 1", "Stopped 0 1"}));
  char out[16];
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRIsQueueControlled", sizeof out, out), LM_NMC_OK);
  EXPECT_STREQ(out, "false");

  // Every entry refused, with repeat on: each is tried once, the answer is 9.
  renderer_->fault("SetAVTransportURI", 714);
  renderer_->clear_sent();
  EXPECT_EQ(play("<Repeat>true</Repeat>"), "9");
  EXPECT_EQ(renderer_->count("SetAVTransportURI"), 2);
  lm_dmrcp_delete_context(context);
}

TEST_F(NmcQueuePlayTest, QueueFunctionsOnARendererContext) {
  uint32_t context = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&context), LM_NMC_OK);
  ASSERT_EQ(lm_dmrcp_go_bookmark(context, udn_.c_str()), LM_NMC_OK);
  const std::string url = "http://127.0.0.1:9/x.mp3";
  ASSERT_EQ(lm_queue_add_metadata(context, url.c_str(), didl(url, "audio/mpeg", "0:00:02").c_str()), LM_NMC_OK);
  EXPECT_EQ(lm_queue_add_bookmark(context, "uuid:srv,-"), 2u) << "temporary bookmark";
  ASSERT_EQ(lm_queue_add_bookmark(context, "uuid:srv,42,0,1,x,1,,|2"), LM_NMC_OK);
  uint32_t count = 0;
  uint32_t index = 9;
  EXPECT_EQ(lm_queue_get_count(context, &count), LM_NMC_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(lm_queue_get_index(context, &index), LM_NMC_OK);
  EXPECT_EQ(index, 1u) << "the cursor moves onto the added entry";
  char buffer[1024];
  EXPECT_EQ(lm_queue_get_bookmark(context, sizeof buffer, buffer), LM_NMC_OK);
  EXPECT_STREQ(buffer, "uuid:srv,42,0,1,x,1,,|2");
  ASSERT_EQ(lm_queue_go_index(context, 0), LM_NMC_OK);
  int32_t duration = 0;
  EXPECT_EQ(lm_queue_extract_metadata(context, "res@duration", 0, sizeof buffer, buffer), LM_NMC_OK);
  EXPECT_STREQ(buffer, "0:00:02");
  EXPECT_EQ(lm_queue_extract_metadata(context, "res.Count", 0, sizeof buffer, buffer), LM_NMC_OK);
  EXPECT_STREQ(buffer, "1");
  EXPECT_EQ(lm_queue_extract_metadata_int(context, "dc:title", 0, &duration), 7u) << "not a number";
  EXPECT_EQ(lm_queue_extract_metadata(context, "upnp:album", 0, sizeof buffer, buffer), 9u);
  EXPECT_EQ(lm_queue_go_bookmark(context, "uuid:srv,42"), LM_NMC_OK) << "found by server and object";
  EXPECT_EQ(lm_queue_get_index(context, &index), LM_NMC_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(lm_queue_go_bookmark(context, "uuid:srv,43"), 9u);
  ASSERT_EQ(lm_queue_go_index(context, 0), LM_NMC_OK);
  EXPECT_EQ(lm_queue_move_to(context, 0x7FFFFFFFu), LM_NMC_OK);
  EXPECT_EQ(lm_queue_go_bookmark(context, "uuid:srv,42,0,1,x,1,,|2"), LM_NMC_OK);
  EXPECT_EQ(lm_queue_get_index(context, &index), LM_NMC_OK);
  EXPECT_EQ(index, 0u);
  ASSERT_EQ(lm_queue_go_index(context, 5), LM_NMC_OK);
  EXPECT_EQ(lm_queue_delete_item(context), 9u) << "the cursor is beyond the queue";
  EXPECT_EQ(lm_queue_get_bookmark(context, sizeof buffer, buffer), 9u);
  ASSERT_EQ(lm_queue_go_index(context, 0), LM_NMC_OK);
  EXPECT_EQ(lm_queue_delete_item(context), LM_NMC_OK);
  int32_t play_index = 5;
  uint32_t pending = 5;
  EXPECT_EQ(lm_queue_get_playindex(context, &play_index, &pending), LM_NMC_OK);
  EXPECT_EQ(play_index, -1);
  EXPECT_EQ(pending, 1u);
  static std::atomic<int> context_events{0};
  context_events = 0;
  ASSERT_EQ(lm_queue_register_callback(context, [](uint32_t, uint32_t event, uint32_t index, uint32_t pending) {
              if (event == NMC_QUEUE_PLAYING && index == 0 && pending == 0) ++context_events;
            }),
            LM_NMC_OK);
  ASSERT_EQ(lm_dmrcp_play(context, 0), LM_NMC_OK);
  EXPECT_EQ(sent_uris(), std::vector<std::string>({"x.mp3"}));
  // The queue event reaches the context's queue callback on the notifier.
  EXPECT_TRUE(wait_until([] { return context_events.load() == 1; }, 3000));
  EXPECT_EQ(lm_queue_get_playindex(context, &play_index, &pending), LM_NMC_OK);
  EXPECT_EQ(play_index, 0);
  EXPECT_EQ(pending, 0u);
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRIsQueueControlled", sizeof buffer, buffer), LM_NMC_OK);
  EXPECT_STREQ(buffer, "true");
  EXPECT_EQ(lm_queue_clear(context), LM_NMC_OK);
  EXPECT_EQ(lm_queue_get_count(context, &count), LM_NMC_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(lm_queue_get_count(0x7FFF0000u, &count), 1u);
  lm_dmrcp_delete_context(context);
}

// The fake host player as local renderer plays a queue like a network one.
TEST_F(NmcQueuePlayTest, LocalRendererPlaysAQueue) {
  fake_player_install(FAKE_PLAYER_ALL_HOOKS);
  ASSERT_EQ(lm_ldmr_enable(1), LM_NMC_OK);
  ASSERT_TRUE(wait_until([] { return nmc_devices_find(NMC_SIDE_RENDERER, LM_LDMR_INDEX, nullptr); }, 3000));
  nmc_queue_ref local = nmc_queue_of_renderer(LM_LDMR_INDEX);
  ASSERT_NE(local, nullptr);
  local->callback = record;
  for (const char *name : {"l1", "l2"}) {
    const std::string url = std::string("http://127.0.0.1:9/") + name;
    ASSERT_EQ(result_code(api_query("<AddToQueue><QueueID>" + local->id + "</QueueID><URL>" + url + "</URL></AddToQueue>")), "0");
  }
  fake_player_clear_calls();
  ASSERT_EQ(result_code(api_query("<PlayQueue><QueueID>" + local->id + "</QueueID><StartIndex>0</StartIndex></PlayQueue>")), "0");
  EXPECT_EQ(fake_player_calls(19), 1u);
  EXPECT_EQ(fake_player_state(), LM_DMR_PLAYING);
  // The host's track ends: its STOPPED advances the queue on the worker.
  fake_player_advance(201000);
  EXPECT_TRUE(wait_until([] { return fake_player_calls(19) == 2; }, 3000));
  EXPECT_TRUE(wait_until([] { return play_events().size() == 2; }, 3000));
  EXPECT_EQ(play_events(), std::vector<std::string>({"Playing 0 1", "Playing 1 0"}));
  lm_ldmr_clear_hooks();
}

}  // namespace
