// The local renderers driven through the renderer control point, with the
// fake host player answering the hooks: enabling and disabling, names,
// every routed operation and the answer 13 without its hook, events in
// keyword and XML mode and to the listener, the play-information rule,
// percent seeks with their fallbacks, feature bits and the shutdown.
#include <algorithm>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "fake_player.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_ldmr.h"
#include "nmc/lm_ldmr_internal.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

struct Update {
  uint32_t context;
  uint32_t code;
  std::string text;
};
std::mutex g_mutex;
std::vector<Update> g_updates;
std::vector<std::string> g_heard;

void on_renderer(uint32_t context, uint32_t code, const char *text) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_updates.push_back(Update{context, code, text != nullptr ? text : ""});
}
void on_event(uint32_t service, uint32_t, uint32_t, const char *text) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_heard.push_back(std::to_string(service) + " " + text);
}
std::vector<Update> updates() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_updates;
}
std::vector<std::string> heard() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_heard;
}
bool has_update(uint32_t code, const std::string &text) {
  for (const Update &u : updates()) {
    if (u.code == code && u.text == text) return true;
  }
  return false;
}

std::string take_name(char *name) {
  std::string copy = name != nullptr ? name : "<none>";
  upnp_free_impl(name);
  return copy;
}

class NmcLdmrTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    {
      std::lock_guard<std::mutex> hold(g_mutex);
      g_updates.clear();
      g_heard.clear();
    }
    nmc_notifiers_set_start_delay(0);
    nmc_set_update_mode(NMC_MODE_KEYWORD);
    ASSERT_EQ(start(), 1);
    ASSERT_EQ(lm_dmrcp_create_context(&context_), LM_NMC_OK);
    ASSERT_EQ(lm_dmrcp_register_callback(context_, on_renderer), LM_NMC_OK);
  }
  void TearDown() override {
    fake_player_call_back(0);
    lm_ldmr_register_event_listener(nullptr);
    lm_ldmr_clear_hooks();
    lm_ldmr_img_clear_hooks();
    lm_dmrcp_delete_context(context_);
    NmcTest::TearDown();
    nmc_set_update_mode(NMC_MODE_KEYWORD);
  }
  // The player installed with the hooks of mask, enabled, and the context
  // pointed at it.
  void enable_player(uint32_t mask) {
    fake_player_install(mask);
    ASSERT_EQ(lm_ldmr_enable(1), LM_NMC_OK);
    ASSERT_TRUE(wait_until([] { return nmc_devices_find(NMC_SIDE_RENDERER, LM_LDMR_INDEX, nullptr); }, 3000));
    ASSERT_EQ(lm_dmrcp_go_bookmark(context_, nmc_ldmr_device_udn(LM_LDMR_INDEX)), LM_NMC_OK);
  }
  // The image renderer installed with every hook, enabled, and listed.
  static void enable_image_player() {
    fake_player_install_image(FAKE_PLAYER_ALL_HOOKS);
    ASSERT_EQ(lm_ldmr_img_enable(1), LM_NMC_OK);
    ASSERT_TRUE(wait_until([] { return nmc_devices_find(NMC_SIDE_RENDERER, LM_LDMR_IMG_INDEX, nullptr); }, 3000));
  }
  uint32_t context_ = 0;
};

TEST_F(NmcLdmrTest, EnablingListsTheRendererAndNamesAreCut) {
  EXPECT_EQ(lm_ldmr_enable(1), 13u) << "no hook set";
  EXPECT_EQ(lm_ldmr_is_enabled(), 0);
  EXPECT_EQ(take_name(lm_ldmr_get_name()), "Local Renderer");
  EXPECT_EQ(take_name(lm_ldmr_img_get_name()), "Local Image Renderer");
  // 16 bytes at most, never inside a character: "Wohnzimmer-Bär" + "ö" is
  // 17 bytes with "ö" starting at byte 15.
  const struct {
    const char *given;
    const char *kept;
  } names[] = {{"Küche", "Küche"}, {"Wohnzimmer-Bärö", "Wohnzimmer-Bär"}, {"0123456789abcdefXYZ", "0123456789abcdef"},
               {"", "Local Renderer"}};
  for (const auto &n : names) {
    ASSERT_EQ(lm_ldmr_set_name(n.given), LM_NMC_OK);
    EXPECT_EQ(take_name(lm_ldmr_get_name()), n.kept) << n.given;
  }
  ASSERT_EQ(lm_ldmr_set_name("Fake Player"), LM_NMC_OK);
  enable_player(FAKE_PLAYER_ALL_HOOKS);
  const std::string udn = nmc_ldmr_device_udn(LM_LDMR_INDEX);
  ASSERT_TRUE(wait_until([&] { return has_update(0x4002, udn); }, 3000));
  nmc_device_view view;
  ASSERT_TRUE(nmc_devices_find(NMC_SIDE_RENDERER, LM_LDMR_INDEX, &view));
  EXPECT_EQ(view.name, "Fake Player");
  EXPECT_EQ(lm_ldmr_enable(1), LM_NMC_OK) << "enabling twice changes nothing";
  EXPECT_EQ(nmc_devices_list(NMC_SIDE_RENDERER).size(), 1u);

  // What the library's own renderer device was handed.
  nmc_ldmr_device_record device = nmc_ldmr_device_recorded(LM_LDMR_INDEX);
  EXPECT_TRUE(device.has_hooks);
  EXPECT_NE(device.play, nullptr);
  EXPECT_EQ(device.transport_features, 1u | 2u | 4u | 8u | 32u);
  EXPECT_EQ(device.rendering_features, 1u | 2u | 4u | 16u) << "only brightness of the three properties reads";
  fake_player_install(FAKE_PLAYER_ALL_HOOKS & ~((1u << 24) | (1u << 15) | (1u << 11)));
  device = nmc_ldmr_device_recorded(LM_LDMR_INDEX);
  EXPECT_EQ(device.transport_features, 2u | 4u | 32u);
  EXPECT_EQ(device.rendering_features, 2u | 4u | 16u);

  // An empty table disables and unlists it.
  fake_player_install(0);
  EXPECT_EQ(lm_ldmr_is_enabled(), 0);
  ASSERT_TRUE(wait_until([&] { return has_update(0x4001, udn); }, 3000));
  EXPECT_FALSE(nmc_ldmr_device_recorded(LM_LDMR_INDEX).has_hooks);
  EXPECT_EQ(lm_dmrcp_stop(context_), 3u);

  // The image renderer: its own index, UDN and name.
  enable_image_player();
  ASSERT_TRUE(nmc_devices_find(NMC_SIDE_RENDERER, LM_LDMR_IMG_INDEX, &view));
  EXPECT_EQ(view.name, "Local Image Renderer");
  EXPECT_EQ(view.udn, nmc_ldmr_device_udn(LM_LDMR_IMG_INDEX));
  ASSERT_EQ(lm_ldmr_img_enable(0), LM_NMC_OK);
  EXPECT_EQ(lm_ldmr_img_is_enabled(), 0);
}

TEST_F(NmcLdmrTest, OperationsReachTheHooksOrAnswer13) {
  enable_player(FAKE_PLAYER_ALL_HOOKS);
  uint32_t state = 99;
  char position[32];
  char duration[32];
  ASSERT_EQ(lm_dmrcp_get_state(context_, &state, sizeof position, position, sizeof duration, duration), LM_NMC_OK);
  EXPECT_EQ(state, LM_DMR_STOPPED);
  EXPECT_STREQ(duration, "0:03:20");
  EXPECT_EQ(lm_dmrcp_pause(context_, 0), 701u) << "a stopped renderer cannot pause";
  ASSERT_EQ(lm_dmrcp_ioctl(context_, "FakeVersion", sizeof position, position), LM_NMC_OK);
  EXPECT_STREQ(position, "fake 1.0");

  // Play through the XML interface (the queue plays it once it exists).
  ASSERT_EQ(nmc_test::result_code(nmc_test::api_query("<Play><RendererIndex>4096</RendererIndex></Play>")), "0");
  fake_player_advance(61000);
  ASSERT_EQ(lm_dmrcp_get_state(context_, &state, sizeof position, position, 0, nullptr), LM_NMC_OK);
  EXPECT_EQ(state, LM_DMR_PLAYING);
  EXPECT_STREQ(position, "0:01:01");
  EXPECT_EQ(lm_dmrcp_pause(context_, 0), LM_NMC_OK);
  EXPECT_EQ(fake_player_state(), LM_DMR_PAUSED_PLAYBACK);
  EXPECT_EQ(lm_dmrcp_pause(context_, 1), LM_NMC_OK);
  EXPECT_EQ(fake_player_state(), LM_DMR_PLAYING);

  EXPECT_EQ(lm_dmrcp_set_volume_percent(context_, 150), LM_NMC_OK);
  EXPECT_EQ(fake_player_volume(), 100u);
  uint32_t percent = 0;
  EXPECT_EQ(lm_dmrcp_get_volume_percent(context_, &percent), LM_NMC_OK);
  EXPECT_EQ(percent, 100u);
  EXPECT_EQ(lm_dmrcp_set_mute(context_, 1), LM_NMC_OK);
  int on = 0;
  EXPECT_EQ(lm_dmrcp_get_mute(context_, &on), LM_NMC_OK);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(lm_dmrcp_set_volume_db(context_, -12), LM_NMC_OK);
  int32_t db = 0;
  int32_t low = 0;
  int32_t high = 0;
  EXPECT_EQ(lm_dmrcp_get_volume_db(context_, &db), LM_NMC_OK);
  EXPECT_EQ(db, -12);
  EXPECT_EQ(lm_dmrcp_get_volume_db_range(context_, &low, &high), LM_NMC_OK);
  EXPECT_EQ(low, -60);
  uint32_t bits = 0;
  EXPECT_EQ(lm_dmrcp_get_seek_capabilities(context_, &bits), LM_NMC_OK);
  EXPECT_EQ(bits, 3u);
  EXPECT_EQ(lm_dmrcp_seek_time(context_, -3), LM_NMC_OK);
  uint32_t kind = 0;
  uint64_t target = 99;
  fake_player_last_seek(&kind, &target);
  EXPECT_EQ(kind, 2u);
  EXPECT_EQ(target, 0u);
  char value[256];
  EXPECT_EQ(lm_dmrcp_get_current_transport_actions(context_, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "Play,Stop,Pause,Seek");
  EXPECT_EQ(lm_dmrcp_set_metadata(context_, "DmrPropCurrentTransportActions", 0, "Stop"), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_get_current_transport_actions(context_, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "Stop");
  // The byte position comes from the state when the property hook has none.
  EXPECT_EQ(lm_dmrcp_seek_bytes(context_, 500000), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_pause(context_, 0), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_extract_metadata(context_, "DmrPropBytePosition", 0, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "500000");
  EXPECT_EQ(lm_dmrcp_get_device_info(context_, sizeof value, value), LM_NMC_OK);
  EXPECT_STREQ(value, "<rendererInfo><manufacturer>Fake &amp; Sons</manufacturer><modelName>Fake Player</modelName>"
                      "<isLocalDevice>true</isLocalDevice><isInternalDevice>true</isInternalDevice>"
                      "<friendlyName>Local Renderer</friendlyName></rendererInfo>");
  EXPECT_EQ(lm_dmrcp_ioctl(context_, "DMRCanPlay http://127.0.0.1/a.mp3", 0, nullptr), LM_NMC_OK);
  EXPECT_EQ(lm_dmrcp_ioctl(context_, "DMRCanPlay video/mp4", 0, nullptr), 714u);
  // The renderer's sink list, whole, for a buffer that holds it; 10 for one
  // a byte short, 2 for none, 1 for no such context.
  const char sink[] = "http-get:*:audio/mpeg:*,http-get:*:audio/L16:*,http-get:*:image/jpeg:*";
  char list[128];
  EXPECT_EQ(lm_dmrcp_ioctl(context_, "DMRGetSinkProtocolInfo", sizeof list, list), LM_NMC_OK);
  EXPECT_STREQ(list, sink);
  EXPECT_EQ(lm_dmrcp_ioctl(context_, "DMRGetSinkProtocolInfo", sizeof sink - 1, list), LM_NMC_BUFFER_TOO_SMALL);
  EXPECT_STREQ(list, "");
  EXPECT_EQ(lm_dmrcp_ioctl(context_, "DMRGetSinkProtocolInfo", 0, nullptr), LM_NMC_INVALID_PARAMETER);
  EXPECT_EQ(lm_dmrcp_ioctl(999999, "DMRGetSinkProtocolInfo", sizeof list, list), LM_NMC_INVALID_INDEX);
  EXPECT_EQ(lm_dmrcp_stop(context_), LM_NMC_OK);
  EXPECT_EQ(fake_player_state(), LM_DMR_STOPPED);

  // Each operation without its hook answers 13 (the player keeps only the
  // device information, so it stays enabled).
  fake_player_install(1u << 1);
  ASSERT_EQ(lm_ldmr_is_enabled(), 1);
  const struct {
    const char *what;
    lm_nmc_result_t result;
  } missing[] = {
      {"state", lm_dmrcp_get_state(context_, &state, 0, nullptr, 0, nullptr)},
      {"stop", lm_dmrcp_stop(context_)},
      {"seek time", lm_dmrcp_seek_time(context_, 1000)},
      {"seek bytes", lm_dmrcp_seek_bytes(context_, 1000)},
      {"seek percent", lm_dmrcp_seek_percent(context_, 10)},
      {"get volume", lm_dmrcp_get_volume_percent(context_, &percent)},
      {"set volume", lm_dmrcp_set_volume_percent(context_, 10)},
      {"get volume dB", lm_dmrcp_get_volume_db(context_, &db)},
      {"set volume dB", lm_dmrcp_set_volume_db(context_, -1)},
      {"volume dB range", lm_dmrcp_get_volume_db_range(context_, &low, &high)},
      {"get mute", lm_dmrcp_get_mute(context_, &on)},
      {"set mute", lm_dmrcp_set_mute(context_, 1)},
      {"set property", lm_dmrcp_set_metadata(context_, "DmrPropContrast", 0, "3")},
      {"ioctl", lm_dmrcp_ioctl(context_, "FakeVersion", 0, nullptr)},
  };
  for (const auto &m : missing) EXPECT_EQ(m.result, 13u) << m.what;

  // The image renderer answers 13 to volume and seeks and has no seek bits.
  enable_image_player();
  ASSERT_EQ(lm_dmrcp_go_bookmark(context_, nmc_ldmr_device_udn(LM_LDMR_IMG_INDEX)), LM_NMC_OK);
  for (lm_nmc_result_t result : {lm_dmrcp_set_volume_percent(context_, 10), lm_dmrcp_get_mute(context_, &on),
                                 lm_dmrcp_seek_time(context_, 10), lm_dmrcp_seek_percent(context_, 10)}) {
    EXPECT_EQ(result, 13u);
  }
  bits = 9;
  EXPECT_EQ(lm_dmrcp_get_seek_capabilities(context_, &bits), LM_NMC_OK);
  EXPECT_EQ(bits, 0u);
  fake_player_clear_calls();
  EXPECT_EQ(lm_dmrcp_stop(context_), LM_NMC_OK);
  EXPECT_EQ(fake_player_calls(21), 1u);
}

// The "NMC Icon Loader" hands the icon over in chunks, then once without data.
struct IconLoad {
  std::mutex mutex;
  std::string data;
  int chunks = 0;
  bool done = false;
  lm_nmc_result_t result = 99;
};
void on_icon_chunk(void *user, const char *data, uint32_t length, lm_nmc_result_t result) {
  IconLoad *load = static_cast<IconLoad *>(user);
  std::lock_guard<std::mutex> hold(load->mutex);
  if (data == nullptr) {
    load->done = true;
    load->result = result;
    return;
  }
  load->data.append(data, length);
  ++load->chunks;
}

TEST_F(NmcLdmrTest, IconsLoadInChunks) {
  enable_player(FAKE_PLAYER_ALL_HOOKS);
  uint32_t count = 0;
  EXPECT_EQ(nmc_ldmr_icon_count(LM_LDMR_INDEX, &count), LM_NMC_OK);
  EXPECT_EQ(count, 1u);
  std::string info;
  EXPECT_EQ(nmc_ldmr_icon_info(LM_LDMR_INDEX, 0, &info), LM_NMC_OK);
  EXPECT_EQ(info, "<mimetype>image/png</mimetype><width>48</width><height>48</height>");
  IconLoad load;
  ASSERT_EQ(nmc_ldmr_load_icon(LM_LDMR_INDEX, 0, on_icon_chunk, &load), LM_NMC_OK);
  ASSERT_TRUE(wait_until(
      [&] {
        std::lock_guard<std::mutex> hold(load.mutex);
        return load.done;
      },
      5000));
  std::lock_guard<std::mutex> hold(load.mutex);
  EXPECT_EQ(load.result, LM_NMC_OK);
  EXPECT_EQ(load.data, std::string(40000, 'I'));
  EXPECT_EQ(load.chunks, 3) << "16 KiB chunks";
  EXPECT_EQ(nmc_ldmr_load_icon(LM_LDMR_IMG_INDEX, 0, on_icon_chunk, &load), 13u) << "disabled";
}

TEST_F(NmcLdmrTest, PercentSeekFallsBackAsNeeded) {
  enable_player(FAKE_PLAYER_ALL_HOOKS);
  const struct {
    const char *what;
    uint64_t duration;
    uint64_t size;
    uint32_t refuse_time;
    uint32_t refuse_bytes;
    uint32_t percent;
    lm_nmc_result_t result;
    uint32_t kind;
    uint64_t target;
  } cases[] = {
      {"time", 200000, 2000000, 0, 0, 50, 0, 2, 100000},
      {"capped", 200000, 2000000, 0, 0, 250, 0, 2, 200000},
      {"time refused 710", 200000, 2000000, 710, 0, 25, 0, 1, 500000},
      {"time refused 13", 200000, 2000000, 13, 0, 25, 0, 1, 500000},
      {"no duration", 0, 2000000, 0, 0, 10, 0, 1, 200000},
      {"time refused 711", 200000, 2000000, 711, 0, 25, 711, 0, 0},
      {"nothing known", 0, 0, 0, 0, 10, 710, 0, 0},
      {"zero", 200000, 2000000, 0, 0, 0, 0, 2, 0},
      {"zero, time refused", 200000, 2000000, 710, 0, 0, 0, 1, 0},
  };
  for (const auto &c : cases) {
    fake_player_set_track(c.duration, c.size);
    fake_player_refuse_seeks(c.refuse_time, c.refuse_bytes);
    EXPECT_EQ(lm_dmrcp_seek_percent(context_, c.percent), c.result) << c.what;
    uint32_t kind = 0;
    uint64_t target = 0;
    fake_player_last_seek(&kind, &target);
    if (c.result == 0) {
      EXPECT_EQ(kind, c.kind) << c.what;
      EXPECT_EQ(target, c.target) << c.what;
    }
  }
  fake_player_install(FAKE_PLAYER_ALL_HOOKS & ~((1u << 24) | (1u << 25)));
  EXPECT_EQ(lm_dmrcp_seek_percent(context_, 10), 13u) << "no seek hook";
}

TEST_F(NmcLdmrTest, EventsReachContextsAndTheListener) {
  lm_ldmr_register_event_listener(on_event);
  enable_player(FAKE_PLAYER_ALL_HOOKS);
  lm_ldmr_event_state(LM_DMR_PLAYING);
  lm_ldmr_event_volume(LM_DMR_PLAYING, 30, -18);
  ASSERT_TRUE(wait_until([] { return has_update(1, "DmrChangedVolume"); }, 3000));
  EXPECT_TRUE(has_update(1, "DmrChangedState"));

  nmc_set_update_mode(NMC_MODE_XML);
  const struct {
    void (*send)(void);
    const char *text;
  } events[] = {
      {[] { lm_ldmr_event_status(3, "ERROR <disk> & \"more\""); },
       "<TransportStatus val=\"ERROR &lt;disk&gt; &amp; &quot;more&quot;\"/>"},
      {[] { lm_ldmr_event_duration(1, 3725); },
       "<CurrentMediaDuration val=\"1:02:05\"/><CurrentTrackDuration val=\"1:02:05\"/>"},
      {[] { lm_ldmr_event_mute(1, 7); }, "<Mute val=\"1\" channel=\"Master\"/>"},
      {[] { lm_ldmr_event_loudness(1, 0); }, "<Loudness val=\"0\" channel=\"Master\"/>"},
      {[] { lm_ldmr_event_brightness(1, 55); }, "<Brightness val=\"55\"/>"},
      {[] { lm_ldmr_event_contrast(1, 45); }, "<Contrast val=\"45\"/>"},
      {[] { lm_ldmr_event_available_actions_bitfield(1, 1 | 4 | 16); },
       "<CurrentTransportActions val=\"Play,Pause,Next\"/>"},
      {[] { lm_ldmr_event_playinfo(1, "http://h/a b.mp3?x=1&y=2", "<DIDL-Lite/>"); },
       "<PlaybackStorageMedium val=\"NETWORK\"/><NumberOfTracks val=\"1\"/>"
       "<AVTransportURI val=\"http://h/a b.mp3?x=1&amp;y=2\"/><AVTransportURIMetaData val=\"&lt;DIDL-Lite/&gt;\"/>"
       "<CurrentTrack val=\"1\"/><CurrentTrackURI val=\"http://h/a b.mp3?x=1&amp;y=2\"/>"
       "<CurrentTrackMetaData val=\"&lt;DIDL-Lite/&gt;\"/>"},
      {[] { lm_ldmr_event_playinfo(1, "http://h/b.mp3", ""); },
       "<AVTransportURI val=\"http://h/b.mp3\"/><AVTransportURIMetaData val=\"\"/><CurrentTrack val=\"1\"/>"
       "<CurrentTrackURI val=\"http://h/b.mp3\"/><CurrentTrackMetaData val=\"\"/>"},
      {[] { lm_ldmr_event_playinfo(0, "", ""); },
       "<PlaybackStorageMedium val=\"NONE\"/><NumberOfTracks val=\"0\"/><AVTransportURI val=\"\"/>"
       "<AVTransportURIMetaData val=\"\"/><CurrentTrack val=\"0\"/><CurrentTrackURI val=\"\"/>"
       "<CurrentTrackMetaData val=\"\"/>"},
      {[] { lm_ldmr_event_playinfo(0, "", ""); },
       "<AVTransportURI val=\"\"/><AVTransportURIMetaData val=\"\"/><CurrentTrack val=\"0\"/>"
       "<CurrentTrackURI val=\"\"/><CurrentTrackMetaData val=\"\"/>"},
      {[] { lm_ldmr_event_next_playinfo(1, "http://h/n.mp3", ""); },
       "<NextAVTransportURI val=\"http://h/n.mp3\"/><NextAVTransportURIMetaData val=\"\"/>"},
      {[] { lm_ldmr_updated(2, "<Custom val=\"1\"/>"); }, "<Custom val=\"1\"/>"},
  };
  size_t expected = updates().size();
  for (const auto &e : events) {
    e.send();
    ++expected;
    ASSERT_TRUE(wait_until([&] { return updates().size() >= expected; }, 3000)) << e.text;
    EXPECT_EQ(updates().back().text, std::string("<RendererUpdated>") + e.text + "</RendererUpdated>");
  }
  lm_ldmr_event_status(1, "");
  Sleep(300);
  EXPECT_EQ(updates().size(), expected) << "an empty status is no event";
  std::vector<std::string> listener = heard();
  ASSERT_GE(listener.size(), 3u);
  EXPECT_EQ(listener[0], "1 &lt;TransportState val=&quot;PLAYING&quot;/&gt;");
  EXPECT_EQ(listener[1].substr(0, 2), "2 ") << "volume is a rendering event";

  // The image renderer's play information has no track number and no
  // storage medium, and its events do not reach the listener.
  enable_image_player();
  ASSERT_EQ(lm_dmrcp_go_bookmark(context_, nmc_ldmr_device_udn(LM_LDMR_IMG_INDEX)), LM_NMC_OK);
  const size_t listened = heard().size();
  const size_t before = updates().size();
  lm_ldmr_img_event_playinfo(1, "http://h/p.jpg", "");
  // The image renderer's "added" may still reach the context around here:
  // look for the update among everything that came after the event.
  const std::string image_update =
      "<RendererUpdated><AVTransportURI val=\"http://h/p.jpg\"/><AVTransportURIMetaData "
      "val=\"\"/><CurrentTrackURI val=\"http://h/p.jpg\"/><CurrentTrackMetaData val=\"\"/></RendererUpdated>";
  EXPECT_TRUE(wait_until(
      [&] {
        std::vector<Update> all = updates();
        return std::any_of(all.begin() + static_cast<long>(before), all.end(),
                           [&](const Update &u) { return u.text == image_update; });
      },
      3000));
  EXPECT_EQ(heard().size(), listened);
  ASSERT_EQ(lm_dmrcp_go_bookmark(context_, nmc_ldmr_device_udn(LM_LDMR_INDEX)), LM_NMC_OK);

  // Hooks run with no controller lock held: the play hook calls back in.
  fake_player_call_back(context_);
  nmc_test::api_query("<Play><RendererIndex>4096</RendererIndex></Play>");
  EXPECT_EQ(fake_player_called_back(), 1);

  // The controller's stop calls the shutdown hook and forgets the name.
  lm_ldmr_set_name("Shut");
  EXPECT_TRUE(stop_and_wait());
  EXPECT_EQ(fake_player_shut_down(), 1);
  EXPECT_EQ(lm_ldmr_is_enabled(), 0);
  EXPECT_EQ(take_name(lm_ldmr_get_name()), "Local Renderer");
}

}  // namespace
