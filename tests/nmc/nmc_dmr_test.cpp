// The renderer control point against crafted renderers on 127.0.0.1:
// contexts that follow their renderer, state and position, pause and
// resume, seeks and their modes, the scaling by a state variable's
// maximum, mute, properties, DMRCanPlay and the slideshow rows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_dmr_crafted.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::CraftedRenderer;
using nmc_test::CraftedRendererSetup;
using test_support::wait_until;
using nmc_test::transport_info;
using nmc_test::xml_escape;

std::string position_info(const std::string &rel_time, const std::string &duration, const std::string &uri = "",
                          const std::string &metadata = "", int rel_count = 0) {
  return "<Track>1</Track><TrackDuration>" + duration + "</TrackDuration><TrackMetaData>" + metadata +
         "</TrackMetaData><TrackURI>" + uri + "</TrackURI><RelTime>" + rel_time + "</RelTime><AbsTime>" + rel_time +
         "</AbsTime><RelCount>" + std::to_string(rel_count) + "</RelCount><AbsCount>0</AbsCount>";
}

class NmcDmrTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
  }
  void TearDown() override {
    for (uint32_t context : contexts_) lm_dmrcp_delete_context(context);
    NmcTest::TearDown();
    renderers_.clear();
  }
  // A crafted renderer added to the control point and listed by the
  // controller.
  CraftedRenderer &add(const std::string &udn, const std::string &name, const std::string &rcs = "",
                       const std::string &avt = "") {
    CraftedRendererSetup setup;
    setup.udn = udn;
    setup.name = name;
    setup.rcs_variables = rcs;
    setup.avt_variables = avt;
    renderers_.push_back(std::make_unique<CraftedRenderer>(setup));
    join(*renderers_.back(), udn);
    return *renderers_.back();
  }
  static void join(CraftedRenderer &renderer, const std::string &udn) {
    upnp_control_add_device(renderer.location().c_str(), udn.c_str(), "127.0.0.1:9000", 1800, 2);
    EXPECT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), nullptr); }, 5000))
        << udn;
  }
  // A renderer context pointed at the renderer's bookmark.
  uint32_t context_at(const std::string &udn) {
    uint32_t context = 0;
    EXPECT_EQ(lm_dmrcp_create_context(&context), LM_NMC_OK);
    contexts_.push_back(context);
    EXPECT_EQ(lm_dmrcp_go_bookmark(context, udn.c_str()), LM_NMC_OK) << udn;
    return context;
  }

  std::vector<std::unique_ptr<CraftedRenderer>> renderers_;
  std::vector<uint32_t> contexts_;
};

TEST_F(NmcDmrTest, ContextsFollowTheirRendererAndNeverAddressAnother) {
  const std::string bravo_udn = "uuid:dmr-crafted-00000b";
  CraftedRenderer &bravo = add(bravo_udn, "Bravo");
  uint32_t by_bookmark = context_at(bravo_udn);
  uint32_t by_index = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&by_index), LM_NMC_OK);
  contexts_.push_back(by_index);
  EXPECT_EQ(lm_dmrcp_go_index(by_index, 1), 3u) << "no renderer at position 1";
  ASSERT_EQ(lm_dmrcp_go_index(by_index, 0), LM_NMC_OK);

  // Alpha sorts in before Bravo: both contexts still address Bravo.
  const std::string alpha_udn = "uuid:dmr-crafted-00000a";
  CraftedRenderer &alpha = add(alpha_udn, "Alpha");
  for (uint32_t context : {by_bookmark, by_index}) {
    uint32_t position = 9;
    EXPECT_EQ(lm_dmrcp_get_index(context, &position), LM_NMC_OK);
    EXPECT_EQ(position, 1u) << context;
    char bookmark[128];
    EXPECT_EQ(lm_dmrcp_get_bookmark(context, sizeof bookmark, bookmark), LM_NMC_OK);
    EXPECT_EQ(std::string(bookmark), bravo_udn);
    EXPECT_EQ(lm_dmrcp_stop(context), LM_NMC_OK);
  }
  EXPECT_EQ(bravo.count("Stop"), 2);
  EXPECT_EQ(alpha.count("Stop"), 0);
  uint32_t count = 0;
  EXPECT_EQ(lm_dmrcp_get_count(by_bookmark, &count), LM_NMC_OK);
  EXPECT_EQ(count, 2u);

  // Unknown contexts, contexts pointing nowhere, bad bookmarks.
  uint32_t nowhere = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&nowhere), LM_NMC_OK);
  contexts_.push_back(nowhere);
  EXPECT_EQ(lm_dmrcp_stop(nowhere), 3u);
  EXPECT_EQ(lm_dmrcp_stop(0x7FFF0000u), 1u);
  EXPECT_EQ(lm_dmrcp_stop(5u), 1u) << "a server context is no renderer context";
  EXPECT_EQ(lm_dmrcp_go_bookmark(nowhere, ""), 2u);
  EXPECT_EQ(lm_dmrcp_go_bookmark(nowhere, "uuid:not-listed"), 3u);
  char small[4];
  EXPECT_EQ(lm_dmrcp_get_bookmark(by_bookmark, sizeof small, small), 10u);

  // Bravo leaves: its contexts answer 3 and send nothing to Alpha; it
  // comes back and they drive it again.
  Sleep(1100);
  ASSERT_EQ(upnp_control_delete_device(bravo_udn.c_str(), 2), 1);
  ASSERT_TRUE(wait_until([&] { return !nmc_devices_find_udn(NMC_SIDE_RENDERER, bravo_udn.c_str(), nullptr); }, 5000));
  EXPECT_EQ(lm_dmrcp_stop(by_bookmark), 3u);
  EXPECT_EQ(lm_dmrcp_stop(by_index), 3u);
  EXPECT_EQ(alpha.count("Stop"), 0);
  join(bravo, bravo_udn);
  EXPECT_EQ(lm_dmrcp_stop(by_bookmark), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_stop(by_index), LM_NMC_OK);
  EXPECT_EQ(bravo.count("Stop"), 4);
  EXPECT_EQ(alpha.count("Stop"), 0);
}

TEST_F(NmcDmrTest, StatePositionPauseAndResume) {
  const std::string udn = "uuid:dmr-crafted-000001";
  CraftedRenderer &r = add(udn, "State");
  uint32_t context = context_at(udn);
  r.answer("GetTransportInfo", transport_info("PLAYING"));
  r.answer("GetPositionInfo", position_info("0:01:02", "0:04:00"));
  uint32_t state = 99;
  char position[32];
  char duration[32];
  ASSERT_EQ(lm_dmrcp_get_state(context, &state, sizeof position, position, sizeof duration, duration), LM_NMC_OK);
  EXPECT_EQ(state, LM_DMR_PLAYING);
  EXPECT_STREQ(position, "0:01:02");
  EXPECT_STREQ(duration, "0:04:00");
  EXPECT_EQ(r.count("GetPositionInfo"), 1);
  ASSERT_EQ(lm_dmrcp_get_state(context, &state, 0, nullptr, 0, nullptr), LM_NMC_OK);
  EXPECT_EQ(r.count("GetPositionInfo"), 1) << "no position asked without buffers";

  // "NOT_IMPLEMENTED" takes the duration of the current track's metadata.
  const std::string didl = "<DIDL-Lite><item><dc:title>T</dc:title><zel:duration>0:03:30</zel:duration>"
                           "<res>http://127.0.0.1/t.mp3</res></item></DIDL-Lite>";
  r.answer("GetPositionInfo", position_info("0:00:05", "NOT_IMPLEMENTED", "http://127.0.0.1/t.mp3", xml_escape(didl)));
  ASSERT_EQ(lm_dmrcp_go_bookmark(context, udn.c_str()), LM_NMC_OK);  // drops the caches
  ASSERT_EQ(lm_dmrcp_get_state(context, &state, sizeof position, position, sizeof duration, duration), LM_NMC_OK);
  EXPECT_STREQ(duration, "0:03:30");

  // A renderer known to break GetPositionInfo still answers its state.
  CraftedRendererSetup frame_setup;
  frame_setup.udn = "uuid:dmr-crafted-00000f";
  frame_setup.name = "Frame";
  frame_setup.model = "Ubicom Digital Photo Frame";
  frame_setup.device_extra = "<UPC>00000-00001</UPC>";
  renderers_.push_back(std::make_unique<CraftedRenderer>(frame_setup));
  CraftedRenderer &frame = *renderers_.back();
  join(frame, frame_setup.udn);
  frame.answer("GetTransportInfo", transport_info("PLAYING"));
  uint32_t frame_context = context_at(frame_setup.udn);
  ASSERT_EQ(lm_dmrcp_get_state(frame_context, &state, sizeof position, position, sizeof duration, duration),
            LM_NMC_OK);
  EXPECT_EQ(state, LM_DMR_PLAYING);
  EXPECT_STREQ(position, "");
  EXPECT_EQ(frame.count("GetPositionInfo"), 0);

  r.answer("GetTransportInfo", transport_info("BOGUS"));
  ASSERT_EQ(lm_dmrcp_get_state(context, &state, 0, nullptr, 0, nullptr), LM_NMC_OK);
  EXPECT_EQ(state, 7u);

  struct Case {
    const char *state;
    int resume;
    uint32_t result;
    int pauses;
    int plays;
  };
  const Case cases[] = {
      {"PLAYING", 0, 0, 1, 0},         {"PLAYING", 1, 0, 0, 0},          {"TRANSITIONING", 0, 0, 1, 0},
      {"RECORDING", 0, 0, 1, 0},       {"PAUSED_PLAYBACK", 1, 0, 0, 1},  {"PAUSED_RECORDING", 1, 0, 0, 1},
      {"PAUSED_PLAYBACK", 0, 0, 0, 0}, {"STOPPED", 0, 701, 0, 0},        {"NO_MEDIA_PRESENT", 1, 701, 0, 0},
  };
  for (const Case &c : cases) {
    r.clear_sent();
    r.answer("GetTransportInfo", transport_info(c.state));
    EXPECT_EQ(lm_dmrcp_pause(context, c.resume), c.result) << c.state << " " << c.resume;
    EXPECT_EQ(r.count("Pause"), c.pauses) << c.state << " " << c.resume;
    EXPECT_EQ(r.count("Play"), c.plays) << c.state << " " << c.resume;
  }
  // The renderer's own refusal passes through.
  r.answer("GetTransportInfo", transport_info("PLAYING"));
  r.fault("Pause", 701);
  EXPECT_EQ(lm_dmrcp_pause(context, 0), 701u);
}

TEST_F(NmcDmrTest, SeeksAndTheirModes) {
  const std::string both_udn = "uuid:dmr-crafted-000002";
  CraftedRenderer &both = add(both_udn, "Both", "",
                              nmc_test::values_variable("A_ARG_TYPE_SeekMode", {"REL_TIME", "X_DLNA_REL_BYTE"}));
  const std::string count_udn = "uuid:dmr-crafted-000003";
  CraftedRenderer &count = add(count_udn, "Count", "",
                               nmc_test::values_variable("A_ARG_TYPE_SeekMode", {"ABS_TIME", "REL_COUNT"}));
  const std::string time_udn = "uuid:dmr-crafted-000004";
  CraftedRenderer &time = add(time_udn, "Time", "", nmc_test::values_variable("A_ARG_TYPE_SeekMode", {"REL_TIME"}));
  uint32_t c_both = context_at(both_udn);
  uint32_t c_count = context_at(count_udn);
  uint32_t c_time = context_at(time_udn);

  EXPECT_EQ(lm_dmrcp_seek_time(c_both, -5000), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_seek_time(c_both, 3723000), LM_NMC_OK);
  EXPECT_EQ(both.sent("Seek", "Target"), (std::vector<std::string>{"00:00:00", "01:02:03"}));
  EXPECT_EQ(both.sent("Seek", "Unit"), (std::vector<std::string>{"REL_TIME", "REL_TIME"}));
  both.clear_sent();
  EXPECT_EQ(lm_dmrcp_seek_bytes(c_both, -1), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_seek_bytes(c_count, 4096), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_seek_bytes(c_time, 4096), 13u) << "no byte seek mode";
  EXPECT_EQ(both.sent("Seek", "Unit"), (std::vector<std::string>{"X_DLNA_REL_BYTE"}));
  EXPECT_EQ(both.sent("Seek", "Target"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(count.sent("Seek", "Unit"), (std::vector<std::string>{"REL_COUNT"}));
  EXPECT_EQ(time.count("Seek"), 0);

  const struct {
    uint32_t context;
    uint32_t bits;
  } caps[] = {{c_both, 3}, {c_count, 2}, {c_time, 1}};
  for (const auto &c : caps) {
    uint32_t bits = 99;
    EXPECT_EQ(lm_dmrcp_get_seek_capabilities(c.context, &bits), LM_NMC_OK);
    EXPECT_EQ(bits, c.bits) << c.context;
  }

  // Percent: a byte seek from the track's size; 250 percent is 100.
  const std::string uri = both.url("/media/track.mp3");
  const std::string didl = "<DIDL-Lite><item><res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_OP=11\" "
                           "size=\"1000000\" duration=\"0:05:00.000\">" + uri + "</res></item></DIDL-Lite>";
  // (A RelCount marks byte seeking; the size comes from the track's res.)
  both.answer("GetPositionInfo", position_info("0:00:10", "0:05:00", uri, xml_escape(didl), 1000));
  both.clear_sent();
  EXPECT_EQ(lm_dmrcp_seek_percent(c_both, 250), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_seek_percent(c_both, 25), LM_NMC_OK);
  EXPECT_EQ(both.sent("Seek", "Unit"), (std::vector<std::string>{"X_DLNA_REL_BYTE", "X_DLNA_REL_BYTE"}));
  EXPECT_EQ(both.sent("Seek", "Target"), (std::vector<std::string>{"1000000", "250000"}));

  // A renderer without a byte seek mode falls back to a time seek though
  // its server offers byte ranges; one that refuses the byte seek as well.
  const std::string time_uri = time.url("/media/plain.mp3");
  time.head("/media/plain.mp3", "Accept-Ranges: bytes\r\nContent-Length: 4000000\r\n");
  time.answer("GetPositionInfo", position_info("0:00:10", "0:04:00", time_uri, "", 1000));
  EXPECT_EQ(lm_dmrcp_seek_percent(c_time, 50), LM_NMC_OK);
  EXPECT_EQ(time.sent("Seek", "Unit"), (std::vector<std::string>{"REL_TIME"}));
  EXPECT_EQ(time.sent("Seek", "Target"), (std::vector<std::string>{"00:02:00"}));
  both.clear_sent();
  both.answer("GetPositionInfo", position_info("0:00:10", "0:05:00", uri, xml_escape(didl), 1000));
  both.fault("Seek", 710);
  EXPECT_EQ(lm_dmrcp_seek_percent(c_both, 50), 710u) << "both seeks refused: the renderer's error";
  EXPECT_EQ(both.sent("Seek", "Unit"), (std::vector<std::string>{"X_DLNA_REL_BYTE", "REL_TIME"}));

  // Nothing known at all: 710; a server answering the HEAD with 403: 403.
  count.answer("GetPositionInfo", position_info("0:00:00", "", ""));
  EXPECT_EQ(lm_dmrcp_seek_percent(c_count, 10), 710u);
  count.head("/media/gone.mp3", "", 403);
  count.answer("GetPositionInfo", position_info("0:00:00", "", count.url("/media/gone.mp3")));
  EXPECT_EQ(lm_dmrcp_seek_percent(c_count, 10), 403u);
}

TEST_F(NmcDmrTest, VolumeAndPropertiesScaledByTheirMaximum) {
  const std::string sixty_udn = "uuid:dmr-crafted-000005";
  CraftedRenderer &sixty = add(sixty_udn, "Sixty",
                               nmc_test::range_variable("Volume", "60") + nmc_test::range_variable("Brightness", "60"));
  const std::string zero_udn = "uuid:dmr-crafted-000006";
  CraftedRenderer &zero = add(zero_udn, "Zero", nmc_test::range_variable("Volume", "0"));
  uint32_t c60 = context_at(sixty_udn);
  uint32_t c0 = context_at(zero_udn);

  const struct {
    uint32_t context;
    CraftedRenderer *renderer;
    uint32_t percent;
    const char *sent;
    const char *reported;
    uint32_t read;
  } cases[] = {
      {c60, &sixty, 50, "30", "30", 50}, {c60, &sixty, 150, "60", "60", 100}, {c60, &sixty, 0, "0", "90", 100},
      {c0, &zero, 50, "50", "50", 50},   {c0, &zero, 150, "100", "120", 100},
  };
  for (const auto &c : cases) {
    c.renderer->clear_sent();
    EXPECT_EQ(lm_dmrcp_set_volume_percent(c.context, c.percent), LM_NMC_OK);
    EXPECT_EQ(c.renderer->sent("SetVolume", "DesiredVolume"), (std::vector<std::string>{c.sent})) << c.percent;
    c.renderer->answer("GetVolume", std::string("<CurrentVolume>") + c.reported + "</CurrentVolume>");
    uint32_t percent = 999;
    EXPECT_EQ(lm_dmrcp_get_volume_percent(c.context, &percent), LM_NMC_OK);
    EXPECT_EQ(percent, c.read) << c.reported;
  }
  sixty.answer("GetVolume", "<CurrentVolume>loud</CurrentVolume>");
  uint32_t percent = 0;
  EXPECT_EQ(lm_dmrcp_get_volume_percent(c60, &percent), 7u);

  // Mute in and out.
  const struct {
    const char *reported;
    int on;
  } mutes[] = {{"1", 1}, {"0", 0}};
  for (const auto &m : mutes) {
    sixty.answer("GetMute", std::string("<CurrentMute>") + m.reported + "</CurrentMute>");
    int on = 7;
    EXPECT_EQ(lm_dmrcp_get_mute(c60, &on), LM_NMC_OK);
    EXPECT_EQ(on, m.on) << m.reported;
  }
  sixty.clear_sent();
  EXPECT_EQ(lm_dmrcp_set_mute(c60, 5), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_set_mute(c60, 0), LM_NMC_OK);
  EXPECT_EQ(sixty.sent("SetMute", "DesiredMute"), (std::vector<std::string>{"1", "0"}));

  // Properties: brightness set and read scaled, transport actions live.
  EXPECT_EQ(lm_dmrcp_set_metadata(c60, "DmrPropBrightness", 0, "50"), LM_NMC_OK);
  EXPECT_EQ(sixty.sent("SetBrightness", "DesiredBrightness"), (std::vector<std::string>{"30"}));
  sixty.answer("GetBrightness", "<CurrentBrightness>30</CurrentBrightness>");
  char value[256];
  EXPECT_EQ(lm_dmrcp_extract_metadata(c60, "DmrPropBrightness", 0, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "50");
  sixty.answer("GetCurrentTransportActions", "<Actions>Play,Stop,Seek</Actions>");
  EXPECT_EQ(lm_dmrcp_get_current_transport_actions(c60, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "Play,Stop,Seek");
  int32_t n = 0;
  EXPECT_EQ(lm_dmrcp_extract_metadata_int(c60, "DmrPropCurrentTransportActions.Count", 0, &n), LM_NMC_OK);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(lm_dmrcp_set_metadata(c60, "DmrPropStatus", 0, "1"), 9u);
  EXPECT_EQ(lm_dmrcp_set_metadata(c60, "DmrPropContrast", 1, "1"), 9u);
  EXPECT_EQ(lm_dmrcp_set_metadata(c60, "DmrPropContrast", 0, ""), 2u);
  EXPECT_EQ(lm_dmrcp_extract_metadata(c60, "friendlyName", 0, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "Sixty");
  EXPECT_EQ(lm_dmrcp_extract_metadata(c60, "name.Bogus", 0, sizeof value, value), 2u);
  EXPECT_EQ(lm_dmrcp_get_metadata(c60, sizeof value, value), LM_NMC_OK);
  EXPECT_EQ(std::string(value).rfind("<renderer><name>Sixty</name><friendlyName>Sixty</friendlyName>", 0), 0u)
      << value;
}

TEST_F(NmcDmrTest, CanPlayRoutesAndSlideshowTimes) {
  const std::string udn = "uuid:dmr-crafted-000007";
  CraftedRenderer &r = add(udn, "Player");
  r.answer("GetProtocolInfo", "<Source></Source><Sink>http-get:*:audio/mpeg:*</Sink>");
  uint32_t context = context_at(udn);
  const struct {
    const char *argument;
    uint32_t result;
  } cases[] = {
      {"DMRCanPlay http://127.0.0.1/a.mp3", 0},   {"DMRCanPlay HTTP://127.0.0.1/a.jpg", 714},
      {"DMRCanPlay audio/mpeg", 0},               {"DMRCanPlay http-get:*:video/mp4:*", 714},
      {"DMRCanPlay UUID:server-gone,12", 3},      {"DMRCanPlay uuid:server-gone,12", 3},
      {"DMRCanPlay uuid:no-object-part", 2},      {"DMRCanPlay", 2},
  };
  for (const auto &c : cases) EXPECT_EQ(lm_dmrcp_ioctl(context, c.argument, 0, nullptr), c.result) << c.argument;

  char out[32];
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRGetSlideshowDelay", sizeof out, out), LM_NMC_OK);
  EXPECT_STREQ(out, "3");
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRSetSlideshowDelay 65536", 0, nullptr), 2u);
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRSetSlideshowDelay x", 0, nullptr), 2u);
  uint32_t other = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&other), LM_NMC_OK);
  contexts_.push_back(other);
  EXPECT_EQ(lm_dmrcp_ioctl(other, "DMRSetSlideshowDelay 9", 0, nullptr), LM_NMC_OK);
  // The global default moves every context still at the old default.
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRSetSlideshowDelay 5 global", 0, nullptr), LM_NMC_OK);
  const struct {
    uint32_t context;
    const char *command;
    const char *value;
  } reads[] = {{context, "DMRGetSlideshowDelay", "5"},
               {other, "DMRGetSlideshowDelay", "9"},
               {other, "DMRGetSlideshowDelay global", "5"},
               {context, "DMRGetSlideshowTransWaitTime", "20"}};
  for (const auto &read : reads) {
    EXPECT_EQ(lm_dmrcp_ioctl(read.context, read.command, sizeof out, out), LM_NMC_OK);
    EXPECT_STREQ(out, read.value) << read.command;
  }
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRSetSlideshowTransWaitTime 70000", 0, nullptr), 2u);
  EXPECT_EQ(lm_dmrcp_ioctl(context, "DMRSetSlideshowDelay 3 global", 0, nullptr), LM_NMC_OK);
  // Play builds "PlayQueue"; the renderer's queue is empty: nothing to play (9).
  EXPECT_EQ(lm_dmrcp_play(context, LM_DMR_PLAY_REPEAT), 9u);
  EXPECT_EQ(lm_dmrcp_play(0x7FFF0000u, LM_DMR_PLAY_SHUFFLE), 1u);
  EXPECT_EQ(lm_dmrcp_play(0x7FFF0000u, 0), 3u);
}

// Two contexts drive two renderers from two threads at once.
TEST_F(NmcDmrTest, TwoContextsDriveTwoRenderersAtOnce) {
  const std::string one_udn = "uuid:dmr-crafted-000008";
  CraftedRenderer &one = add(one_udn, "One");
  const std::string two_udn = "uuid:dmr-crafted-000009";
  CraftedRenderer &two = add(two_udn, "Two");
  uint32_t c1 = context_at(one_udn);
  uint32_t c2 = context_at(two_udn);
  auto drive = [](uint32_t context, uint32_t volume) {
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(lm_dmrcp_set_volume_percent(context, volume), LM_NMC_OK);
      EXPECT_EQ(lm_dmrcp_stop(context), LM_NMC_OK);
    }
  };
  std::thread a(drive, c1, 11);
  std::thread b(drive, c2, 22);
  a.join();
  b.join();
  EXPECT_EQ(one.sent("SetVolume", "DesiredVolume"), std::vector<std::string>(20, "11"));
  EXPECT_EQ(two.sent("SetVolume", "DesiredVolume"), std::vector<std::string>(20, "22"));
  EXPECT_EQ(one.count("Stop"), 20);
  EXPECT_EQ(two.count("Stop"), 20);
}

}  // namespace
