// Slideshows on the crafted photo renderer, whose state events come through
// the control point's event queue: the interval after PLAYING, the
// transition wait while TRANSITIONING, pause and resume (also on a renderer
// that refuses Pause with 701 or 13), a stop by someone else, the renderer
// going away, and the controller's stop during a show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc_queue_photo.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::PhotoRenderer;
using test_support::wait_until;
using nmc_test::queue_events;
using nmc_test::api_query;

bool stopped() {
  std::vector<std::string> all = queue_events();
  return !all.empty() && all.back().rfind("Stopped", 0) == 0;
}

class NmcQueueSlideshowTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_test::clear_queue_events();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
    photo_ = std::make_unique<PhotoRenderer>(udn_, "Photo Frame");
    upnp_control_add_device(photo_->device().location().c_str(), udn_.c_str(), "127.0.0.1:9000", 1800, 2);
    nmc_device_view view;
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn_.c_str(), &view); }, 5000));
    index_ = view.index;
    photo_->set_index(index_);
    ASSERT_TRUE(wait_until([&] { return (queue_ = nmc_queue_find(udn_)) != nullptr; }, 3000));
    queue_->callback = nmc_test::record_queue_event;
    ASSERT_EQ(lm_dmrcp_create_context(&context_), LM_NMC_OK);
    ASSERT_EQ(lm_dmrcp_go_bookmark(context_, udn_.c_str()), LM_NMC_OK);
    for (int i = 1; i <= 6; ++i) {
      const std::string url = "http://127.0.0.1:9/p" + std::to_string(i) + ".jpg";
      std::string response = api_query("<AddToQueue><QueueID>" + udn_ + "</QueueID><URL>" + url +
                                   "</URL><MetaData>&lt;DIDL-Lite&gt;&lt;item id=&quot;" + std::to_string(i) +
                                   "&quot;&gt;&lt;res protocolInfo=&quot;http-get:*:image/jpeg:*&quot;&gt;" + url +
                                   "&lt;/res&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;</MetaData></AddToQueue>");
      ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
    }
  }
  void TearDown() override {
    lm_dmrcp_delete_context(context_);
    queue_.reset();
    NmcTest::TearDown();
    photo_.reset();
  }
  void start_show(int interval, int transit_wait) {
    const int before = photo_->shown();
    std::string response = api_query("<PlayQueue><QueueID>" + udn_ + "</QueueID><StartIndex>0</StartIndex>"
                                 "<SlideshowInterval>" + std::to_string(interval) +
                                 "</SlideshowInterval><SlideshowTransitWaitTime>" + std::to_string(transit_wait) +
                                 "</SlideshowTransitWaitTime><Repeat>true</Repeat></PlayQueue>");
    ASSERT_NE(response.find("<Result code=\"0\">"), std::string::npos) << response;
    ASSERT_TRUE(wait_until([&] { return photo_->shown() > before; }, 2000));
  }
  // Waits for the next picture; the ms it took (-1: none within limit_ms).
  long long next_picture(int limit_ms) {
    const int before = photo_->shown();
    const uint64_t started = getSystemTime();
    if (!wait_until([&] { return photo_->shown() > before; }, limit_ms, 20)) return -1;
    return static_cast<long long>(getSystemTime() - started);
  }

  const std::string udn_ = "uuid:queue-photo-000001";
  std::unique_ptr<PhotoRenderer> photo_;
  int index_ = -1;
  nmc_queue_ref queue_;
  uint32_t context_ = 0;
};

TEST_F(NmcQueueSlideshowTest, IntervalAfterPlayingAndTransitionWait) {
  start_show(1, 2);
  // Each picture about one interval after the renderer showed the last.
  for (int i = 0; i < 2; ++i) {
    long long took = next_picture(3000);
    EXPECT_GE(took, 700) << i;
    EXPECT_LE(took, 2000) << i;
  }
  // A renderer that stays TRANSITIONING gets the transition wait. The first
  // two pictures after the switch may still count on a PLAYING seen before
  // it (a state event late under load); the third counts on TRANSITIONING
  // whenever its own event arrives.
  photo_->stay_transitioning(true);
  ASSERT_GE(next_picture(4000), 0);
  ASSERT_GE(next_picture(4000), 0);
  long long took = next_picture(6000);
  EXPECT_GE(took, 1700);
  EXPECT_LE(took, 4500);
  photo_->stay_transitioning(false);
  EXPECT_TRUE(queue_->play.slideshow);
}

TEST_F(NmcQueueSlideshowTest, PausesAndResumesAlsoWhenPauseIsRefused) {
  for (int refusal : {0, 701, 13}) {
    SCOPED_TRACE(refusal);
    photo_->refuse_pause(refusal);
    start_show(1, 20);
    ASSERT_GE(next_picture(3000), 0);
    EXPECT_EQ(lm_dmrcp_pause(context_, 0), LM_NMC_OK);
    EXPECT_TRUE(wait_until([&] { return nmc_queue_slideshow_is_paused(index_); }, 1000));
    EXPECT_EQ(next_picture(1800), -1) << "a paused show holds";
    // "Play" resumes it: the marks go, the renderer plays, the show goes on.
    EXPECT_NE(api_query("<Play><RendererIndex>" + std::to_string(index_) + "</RendererIndex></Play>")
                  .find("<Result code=\"0\">"),
              std::string::npos);
    EXPECT_GE(next_picture(3000), 0);
    EXPECT_FALSE(nmc_queue_slideshow_is_paused(index_));
    EXPECT_EQ(lm_dmrcp_stop(context_), LM_NMC_OK);
    EXPECT_TRUE(wait_until(stopped, 2000));
  }
}

TEST_F(NmcQueueSlideshowTest, StopBySomeoneElseEndsTheShow) {
  start_show(1, 20);
  ASSERT_GE(next_picture(3000), 0);
  Sleep(1100);
  photo_->emit("STOPPED");
  EXPECT_TRUE(wait_until(stopped, 2000)) << ::testing::PrintToString(queue_events());
  EXPECT_EQ(next_picture(1800), -1);
  std::string info = api_query("<GetQueueInfo><QueueID>" + udn_ + "</QueueID></GetQueueInfo>");
  EXPECT_NE(info.find("<Active>false</Active>"), std::string::npos) << info;
}

TEST_F(NmcQueueSlideshowTest, PausedShowEndsWhenTheRendererGoesAway) {
  start_show(1, 20);
  EXPECT_EQ(lm_dmrcp_pause(context_, 0), LM_NMC_OK);
  ASSERT_TRUE(wait_until([&] { return nmc_queue_slideshow_is_paused(index_); }, 1000));
  // (A byebye right after the device's alive is ignored: ask until it goes.)
  ASSERT_TRUE(wait_until(
      [&] {
        upnp_control_delete_device(udn_.c_str(), 2);
        return !nmc_devices_find_udn(NMC_SIDE_RENDERER, udn_.c_str(), nullptr);
      },
      3000, 100));
  EXPECT_TRUE(wait_until(stopped, 3000)) << ::testing::PrintToString(queue_events());
}

// The controller's stop during a show (paused or not) ends its timer and
// the worker within the bound.
class NmcQueueSlideshowStop : public NmcQueueSlideshowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NmcQueueSlideshowStop, ControllerStopsWithinItsBound) {
  start_show(1, 20);
  if (GetParam()) {
    EXPECT_EQ(lm_dmrcp_pause(context_, 0), LM_NMC_OK);
    ASSERT_TRUE(wait_until([&] { return nmc_queue_slideshow_is_paused(index_); }, 1000));
  } else {
    ASSERT_GE(next_picture(3000), 0);
  }
  const uint64_t started = getSystemTime();
  ASSERT_TRUE(stop_and_wait());
  EXPECT_LT(getSystemTime() - started, 5000u);
  const std::string threads = nmc_test::thread_names();
  EXPECT_EQ(threads.find("SlideshowPlayer"), std::string::npos) << threads;
  EXPECT_EQ(threads.find("DMR Position Po"), std::string::npos) << threads;
}
INSTANTIATE_TEST_SUITE_P(PausedOrNot, NmcQueueSlideshowStop, ::testing::Bool());

}  // namespace
