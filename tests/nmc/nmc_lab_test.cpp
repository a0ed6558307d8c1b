// The controller against the lab's peers (run through tests/lab/lab.sh): the
// device lists hold the lab's server and renderers sorted by name, the
// server's addition reaches server contexts with the plain server bookmark,
// a renderer that stops and starts again reaches every renderer context as
// removed, then added, and a track played on a renderer reaches the context
// that points at it as keywords (one per matching row, in table order) or as
// XML (one per event), event for event.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_text.h"
#include "nmc_test_util.h"
#include "ssdp/upnp_ssdp.h"
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
// (context, code, bookmark) of every server callback.
std::vector<std::tuple<uint32_t, uint32_t, std::string>> g_server_calls;
void on_server(uint32_t context, uint32_t code, const char *text) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_server_calls.emplace_back(context, code, text != nullptr ? text : "");
}
std::vector<std::pair<uint32_t, std::string>> calls_to(uint32_t context) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::vector<std::pair<uint32_t, std::string>> out;
  for (const auto &[to, code, text] : g_calls) {
    if (to == context) out.emplace_back(code, text);
  }
  return out;
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

// While it lives, the control point takes in no renderer announcements nor
// search answers (its renderer search switch is off); at its end the switch
// is as before.
class RendererAnnouncementsIgnored {
 public:
  RendererAnnouncementsIgnored() : was_(upnp_ssdp_search_dmr_is_enabled()) { upnp_ssdp_enable_search_dmr(0); }
  ~RendererAnnouncementsIgnored() { end(); }
  void end() { upnp_ssdp_enable_search_dmr(was_); }

 private:
  int was_;
};

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
    {
      std::lock_guard<std::mutex> hold(g_mutex);
      g_calls.clear();
      g_server_calls.clear();
    }
    ASSERT_EQ(start(), 1);
    // Before the notifier's start delay is over: the additions reach it.
    ASSERT_EQ(lm_dmscp_register_callback(LM_NMC_DEFAULT_DMS_CONTEXT, on_server), 0u);
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

TEST_F(NmcLabTest, ServerAdditionCarriesThePlainServerBookmark) {
  const std::string udn = cp_lab::env("LAB_SERVER_UDN");
  auto seen = [&] {
    std::lock_guard<std::mutex> hold(g_mutex);
    for (const auto &[to, code, text] : g_server_calls) {
      if (to == LM_NMC_DEFAULT_DMS_CONTEXT && code == 4 && text == udn + ",0") return true;
    }
    return false;
  };
  EXPECT_TRUE(wait_until(seen, 10000));
}

TEST_F(NmcLabTest, StoppedRendererReachesEveryContextRemovedThenAdded) {
  uint32_t contexts[2] = {0, 0};
  for (uint32_t &context : contexts) {
    ASSERT_EQ(lm_dmrcp_create_context(&context), 0u);
    ASSERT_EQ(lm_dmrcp_register_callback(context, on_renderer), 0u);
  }
  const std::string udn = cp_lab::env("LAB_RENDERER1_UDN");
  // The renderer's byebye must come a second or more after the last alive
  // or search answer the control point took from it, or the control point
  // keeps it (an alive and a byebye may cross on the network). The answers
  // to the start's searches come back spread over their MX of up to 10 s,
  // so no quiet spell tells that the last one has come: until the renderer
  // is stopped, the control point takes in none, and the stop waits out
  // the second after the last one it took.
  RendererAnnouncementsIgnored ignored;
  g_watched = udn;
  g_last_alive = Clock::now().time_since_epoch().count();
  upnp_cp_set_call_observer(observe);
  ASSERT_TRUE(wait_until(
      [] {
        return Clock::now() - Clock::time_point(Clock::duration(g_last_alive.load())) > std::chrono::milliseconds(1500);
      },
      10000));
  // Contexts opened after the start also get the renderers already listed as
  // added when the notifier starts (1.5 s after the start), possibly only
  // now: what counts is what follows the removal.
  auto from_removal = [&](int i) {
    std::vector<uint32_t> codes = list_changes(contexts[i], udn);
    auto first = std::find(codes.begin(), codes.end(), 0x4001u);
    return std::vector<uint32_t>(first, codes.end());
  };
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(from_removal(i).empty()) << contexts[i];
  ASSERT_EQ(cp_lab::lab("stop renderer1"), 0);
  upnp_cp_set_call_observer(nullptr);
  const bool removed =
      wait_until([&] { return !is_listed(udn) && !from_removal(0).empty() && !from_removal(1).empty(); }, 10000);
  ignored.end();
  ASSERT_EQ(cp_lab::lab("start renderer1"), 0);  // whatever happened: the shared lab stays whole
  ASSERT_TRUE(removed);
  ASSERT_TRUE(wait_until([&] { return is_listed(udn); }, 20000));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(wait_until([&] { return from_removal(i).size() == 2; }, 5000)) << contexts[i];
    EXPECT_EQ(from_removal(i), (std::vector<uint32_t>{0x4001, 0x4002})) << contexts[i];
  }
}

// ---- Renderer events while a track plays ------------------------------

// The keyword rows and their markers, in the order they are tested.
const std::vector<std::pair<std::string, std::vector<std::string>>> k_rows = {
    {"DmrChangedMetadata", {"<CurrentTrackMetaData", "<CurrentTrackURI", "<AVTransportURIMetaData", "<AVTransportURI"}},
    {"DmrChangedState", {"<TransportState"}},
    {"DmrChangedStatus", {"<TransportStatus"}},
    {"DmrChangedVolume", {"<Volume", "<VolumeDB"}},
    {"DmrChangedMute", {"<Mute"}},
    {"DmrChangedDuration", {"<CurrentTrackDuration"}},
    {"DmrChangedActions", {"<CurrentTransportActions"}},
    {"DmrChangedBrightness", {"<Brightness"}},
    {"DmrChangedContrast", {"<Contrast"}},
    {"DmrChangedLoudness", {"<Loudness"}},
};
const char *const k_states[] = {"STOPPED", "PLAYING", "TRANSITIONING", "PAUSED_PLAYBACK", "PAUSED_RECORDING",
                                "RECORDING", "NO_MEDIA_PRESENT"};

// What one renderer event (its LastChange as the event list holds it)
// should give a context: the texts in order and the state code (-1: the
// event has none, the context asks the renderer).
struct Expected {
  std::vector<std::string> texts;
  int state = -1;
};
Expected expected_of(const std::string &event, bool xml) {
  Expected out;
  upnp_xml_node *root = upnp_xml_parse(event.c_str());
  const char *escaped = root != nullptr ? upnp_xml_find_tag_value(root->children, "LastChange") : nullptr;
  std::string change = escaped != nullptr ? escaped : "";
  upnp_xml_release(root);
  const std::string state_mark = "<TransportState val=\"";
  size_t at = change.find(state_mark);
  if (at != std::string::npos) {
    at += state_mark.size();
    std::string name = change.substr(at, change.find('"', at) - at);
    for (int i = 0; i < 7; ++i) {
      if (name == k_states[i]) out.state = i;
    }
  }
  if (xml) {
    size_t open = change.find('>', change.find("<InstanceID"));
    size_t close = change.find("</InstanceID>");
    std::string inner = open != std::string::npos && close != std::string::npos && close > open
                            ? change.substr(open + 1, close - open - 1)
                            : "";
    out.texts.push_back("<RendererUpdated>" + inner + "</RendererUpdated>");
    return out;
  }
  for (const auto &[keyword, markers] : k_rows) {
    for (const std::string &marker : markers) {
      if (change.find(marker) != std::string::npos) {
        out.texts.push_back(keyword);
        break;
      }
    }
  }
  return out;
}

// The renderer events of the API session's list for this renderer index,
// drained (polling is on).
std::vector<std::string> drain_renderer_events(int index) {
  char *response = lm_nmc_api_query("<GetRendererEvents/>", 1);
  std::string text = cp_lab::take(response);
  std::vector<std::string> events;
  const std::string mark = "<RendererUpdated><Index>" + std::to_string(index) + "</Index>";
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
    events.push_back(text.substr(at, text.find("</RendererUpdated>", at) + 18 - at));
  }
  return events;
}

TEST_F(NmcLabTest, RendererEventsDuringPlayReachTheContextInBothModes) {
  const std::string udn = cp_lab::env("LAB_RENDERER1_UDN");
  nmc_device_view renderer;
  ASSERT_TRUE(nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), &renderer));
  uint32_t context = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&context), 0u);
  ASSERT_EQ(lm_dmrcp_register_callback(context, on_renderer), 0u);
  // Until the renderer commands point contexts at renderers, the test does.
  nmc_context *record = nmc_context_find(context);
  ASSERT_NE(record, nullptr);
  record->renderer_index = renderer.index;
  nmc_context_release(record);
  ASSERT_TRUE(wait_until([&] { return upnp_cp_is_subscribed(renderer.index, UPNP_CP_KIND_RENDERER) == 1; }, 10000));
  cp_lab::take(lm_nmc_api_query("<ChangePolling><Polling>1</Polling></ChangePolling>", 1));

  for (bool xml : {false, true}) {
    // A URI of its own per mode and run: the renderer reports the new track.
    const std::string url = cp_lab::http_url("media/music/tone-3s.wav?" + std::string(xml ? "xml" : "keyword") +
                                             std::to_string(getpid()));
    SCOPED_TRACE(xml ? "XML mode" : "keyword mode");
    char out[64];
    ASSERT_EQ(lm_dmrcp_ioctl(context, xml ? "DMRSetUpdateNotification DMRXmlNotification"
                                          : "DMRSetUpdateNotification DMRKeywordNotification",
                             sizeof out, out),
              0u);
    // Whatever was under way (the list changes, the subscription's first
    // events) has arrived once the context heard of the renderer and then
    // nothing for a second.
    ASSERT_TRUE(wait_until([&] { return !list_changes(context, udn).empty(); }, 10000));
    for (size_t seen = calls_to(context).size(), quiet = 0; quiet < 4; Sleep(250)) {
      size_t now = calls_to(context).size();
      quiet = now == seen ? quiet + 1 : 0;
      seen = now;
    }
    drain_renderer_events(renderer.index);
    const size_t before = calls_to(context).size();

    ASSERT_EQ(upnp_cp_put_AVTransportURI(renderer.index, url.c_str(), nullptr), 0);
    ASSERT_EQ(upnp_play(renderer.index), 0);
    EXPECT_EQ(cp_lab::wait_transport_state(renderer.index, "PLAYING", 10), "PLAYING");
    EXPECT_EQ(upnp_stop(renderer.index), 0);
    EXPECT_EQ(cp_lab::wait_transport_state(renderer.index, "STOPPED", 10), "STOPPED");
    Sleep(1500);

    std::vector<std::string> events = drain_renderer_events(renderer.index);
    std::vector<Expected> expected;
    size_t count = 0;
    for (const std::string &event : events) {
      expected.push_back(expected_of(event, xml));
      count += expected.back().texts.size();
    }
    ASSERT_GE(events.size(), 2u) << "the renderer reported neither the new track nor its play";
    ASSERT_TRUE(wait_until([&] { return calls_to(context).size() >= before + count; }, 5000));
    Sleep(300);
    std::vector<std::pair<uint32_t, std::string>> got = calls_to(context);
    got.erase(got.begin(), got.begin() + static_cast<long>(before));
    ASSERT_EQ(got.size(), count);
    size_t at = 0;
    bool played = false;
    bool new_track = false;
    for (size_t e = 0; e < expected.size(); ++e) {
      for (const std::string &text : expected[e].texts) {
        EXPECT_EQ(got[at].second, text) << "event " << events[e];
        if (expected[e].state >= 0) {
          EXPECT_EQ(got[at].first, static_cast<uint32_t>(expected[e].state)) << text;
        }
        EXPECT_LE(got[at].first, 6u);
        played = played || (got[at].first == 1 && expected[e].state == 1);
        new_track = new_track || text == "DmrChangedMetadata" || text.find("<AVTransportURI") != std::string::npos;
        ++at;
      }
    }
    EXPECT_TRUE(played) << "no event with the state PLAYING";
    EXPECT_TRUE(new_track) << "no event of the new track";
  }
  char out[64];
  lm_dmrcp_ioctl(context, "DMRSetUpdateNotification DMRKeywordNotification", sizeof out, out);
}

}  // namespace
