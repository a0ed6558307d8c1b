// Handoff and search across servers against the lab's peers: the 30 s
// "Long Tone" handed from gmediarender 1 to gmediarender 2 at its position
// (the old one stops, the queue comes along); renderer 2 leaving in the
// middle of a handoff (renderer 1 keeps playing, renderer 2's queue is
// given back); the merged search over the lab's minidlna and a row of it
// played straight from its bookmark. In a lab of its own with rygel
// (LAB_RYGEL=1): the search merges minidlna's and rygel's rows, and a
// handoff goes from gmediarender to rygel's renderer. Run through
// tests/lab/lab.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp_lab_util.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_across.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_queue.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

std::string query(const std::string &xml) { return cp_lab::take(lm_nmc_api_query(xml.c_str(), 1)); }
bool ok(const std::string &response) { return response.find("<Result code=\"0\">") != std::string::npos; }

// The id of the object titled `title` among the children of `parent`.
std::string child_id(int server, const std::string &parent, const std::string &title) {
  std::string id;
  upnp_xml_node *reply = nullptr;
  if (upnp_control_browse(server, parent.c_str(), "*", 0, 200, nullptr, &reply) != 0) return id;
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result != nullptr ? upnp_xml_parse(result) : nullptr;
  for (upnp_xml_node *e = doc != nullptr ? doc->children : nullptr; e != nullptr && id.empty(); e = e->next) {
    const char *t = upnp_xml_find_tag_value(e->children, "dc:title");
    if (t != nullptr && title == t) id = upnp_xml_find_attribute_value(e, "id");
  }
  upnp_xml_release(doc);
  upnp_xml_release(reply);
  return id;
}

// A renderer's state and position through a context of its own.
struct State {
  uint32_t state = 99;
  int seconds = -1;
};
State state_of(const std::string &udn) {
  State s;
  uint32_t context = 0;
  if (lm_dmrcp_create_context(&context) != 0) return s;
  char position[32] = "";
  if (lm_dmrcp_go_bookmark(context, udn.c_str()) == 0 &&
      lm_dmrcp_get_state(context, &s.state, sizeof position, position, 0, nullptr) == 0) {
    unsigned h = 0, m = 0, sec = 0;
    if (std::sscanf(position, "%u:%u:%u", &h, &m, &sec) == 3) s.seconds = static_cast<int>(h * 3600 + m * 60 + sec);
  }
  lm_dmrcp_delete_context(context);
  return s;
}

// Renderer 2 is stopped (lab.sh stop) when its queue gets its first entry
// while armed: inside the handoff, after it began and before the new
// renderer was asked to play.
std::atomic<bool> g_leave_armed{false};
std::atomic<bool> g_left{false};
void leave_on_first_entry(const char *, int, uint32_t event, uint32_t, uint32_t, int) {
  if (event != NMC_QUEUE_ITEM_ADDED || !g_leave_armed.exchange(false)) return;
  g_left = cp_lab::lab("stop renderer2") == 0;
}

class NmcAcrossLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    rygel_ = cp_lab::env("LAB_RYGEL") == "1";
    if (rygel_ != with_rygel()) GTEST_SKIP() << (rygel_ ? "for the shared lab" : "for a lab with rygel");
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    one_ = cp_lab::env("LAB_RENDERER1_UDN");
    two_ = cp_lab::env(rygel_ ? "LAB_RYGEL_RENDERER_UDN" : "LAB_RENDERER2_UDN");
    server_udn_ = cp_lab::env("LAB_SERVER_UDN");
    ASSERT_FALSE(two_.empty()) << "the lab has one renderer";
    for (const std::string &udn : {one_, two_}) {
      ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn.c_str(), nullptr); }, 30000));
      ASSERT_TRUE(wait_until([&] { return nmc_queue_find(udn) != nullptr; }, 5000));
    }
    nmc_device_view server;
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, server_udn_.c_str(), &server); }, 30000));
    server_ = server.index;
  }
  void TearDown() override {
    if (!cp_lab::inside_lab() || rygel_ != with_rygel()) return;
    if (nmc_queue_ref q = nmc_queue_find(two_)) q->callback = nullptr;
    for (const std::string &udn : {one_, two_}) {
      uint32_t context = 0;
      if (lm_dmrcp_create_context(&context) == 0) {
        if (lm_dmrcp_go_bookmark(context, udn.c_str()) == 0) lm_dmrcp_stop(context);
        lm_dmrcp_delete_context(context);
      }
    }
    NmcTest::TearDown();
  }
  // "Long Tone" (30 s) then "First Song" queued on renderer 1, playing the
  // first entry.
  void play_on_one() {
    const std::string music = child_id(server_, "0", "Music");
    const std::string all = child_id(server_, music, "All Music");
    const std::string tone = child_id(server_, all, "Long Tone");
    const std::string song = child_id(server_, all, "First Song");
    ASSERT_FALSE(tone.empty());
    ASSERT_FALSE(song.empty());
    ASSERT_TRUE(ok(query("<ClearQueue><QueueID>" + one_ + "</QueueID></ClearQueue>")));
    for (const std::string &id : {tone, song}) {
      ASSERT_TRUE(ok(query("<AddToQueue><QueueID>" + one_ + "</QueueID><ServerUDN>" + server_udn_ +
                           "</ServerUDN><ObjectID>" + id + "</ObjectID></AddToQueue>")));
    }
    ASSERT_TRUE(ok(query("<PlayQueue><QueueID>" + one_ + "</QueueID><StartIndex>0</StartIndex></PlayQueue>")));
    ASSERT_TRUE(wait_until([&] { return state_of(one_).state == LM_DMR_PLAYING; }, 10000));
  }
  std::string queue_info(const std::string &udn) { return query("<GetQueueInfo><QueueID>" + udn + "</QueueID></GetQueueInfo>"); }

  virtual bool with_rygel() const { return false; }

  bool rygel_ = false;
  std::string one_, two_, server_udn_;
  int server_ = -1;
};

// The same against rygel: its renderer as the new one, its server beside
// minidlna.
class NmcAcrossRygelLabTest : public NmcAcrossLabTest {
 protected:
  bool with_rygel() const override { return true; }
};

TEST_F(NmcAcrossLabTest, HandoffAtThePositionStopsTheOldRendererOnceTheNewPlays) {
  play_on_one();
  Sleep(6000);
  char report[512];
  ASSERT_EQ(lm_nmc_handoff(one_.c_str(), two_.c_str(), 0, sizeof report, report), 0u) << report;
  const std::string words = report;
  EXPECT_NE(words.find("entry 1 of 2 \"Long Tone\" at 0:00:0"), std::string::npos) << words;
  State two = state_of(two_);
  EXPECT_EQ(two.state, LM_DMR_PLAYING) << words;
  EXPECT_GE(two.seconds, 5) << "renderer 2 started from the start: " << words;
  EXPECT_LE(two.seconds, 12) << words;
  EXPECT_EQ(state_of(one_).state, LM_DMR_STOPPED);
  const std::string info = queue_info(two_);
  EXPECT_NE(info.find("<Count>2</Count>"), std::string::npos) << info;
  EXPECT_NE(info.find("<CurrentIndex>0</CurrentIndex>"), std::string::npos) << info;
  // Nothing plays on renderer 1 any more: a handoff back the other way
  // from it is refused in words.
  ASSERT_EQ(lm_nmc_handoff(one_.c_str(), two_.c_str(), 0, sizeof report, report), 9u);
  EXPECT_EQ(std::string(report).rfind("handoff failed: nothing plays on ", 0), 0u) << report;
}

TEST_F(NmcAcrossLabTest, RendererLeavingDuringTheHandoffLeavesTheOldOnePlaying) {
  // Renderer 2's own queue: one URL entry, to be given back.
  const std::string wav = cp_lab::http_url("media/music/tone-3s.wav");
  ASSERT_TRUE(ok(query("<ClearQueue><QueueID>" + two_ + "</QueueID></ClearQueue>")));
  ASSERT_TRUE(ok(query("<AddToQueue><QueueID>" + two_ + "</QueueID><URL>" + wav + "</URL></AddToQueue>")));
  play_on_one();
  nmc_queue_find(two_)->callback = leave_on_first_entry;
  g_leave_armed = true;
  char report[512];
  lm_nmc_result_t result = lm_nmc_handoff(one_.c_str(), two_.c_str(), 5000, sizeof report, report);
  const bool left = g_left.exchange(false);
  g_leave_armed = false;
  nmc_queue_find(two_)->callback = nullptr;
  const int restarted = cp_lab::lab("start renderer2");  // the shared lab stays whole
  ASSERT_TRUE(left) << "lab.sh stop renderer2 failed";
  EXPECT_NE(result, 0u) << report;
  const std::string words = report;
  EXPECT_EQ(words.rfind("handoff failed: ", 0), 0u) << words;
  EXPECT_NE(words.find("keeps playing"), std::string::npos) << words;
  EXPECT_EQ(state_of(one_).state, LM_DMR_PLAYING) << words;
  const std::string info = queue_info(two_);
  EXPECT_NE(info.find("<Count>1</Count>"), std::string::npos) << info;
  EXPECT_EQ(restarted, 0);
}

TEST_F(NmcAcrossLabTest, SearchAcrossServersAndPlayARowDirectly) {
  uint32_t search = 0;
  ASSERT_EQ(lm_nmc_search_all("title=Tone", 5000, nullptr, nullptr, &search), 0u);
  char servers[4096];
  ASSERT_EQ(lm_nmc_search_all_get_servers(search, sizeof servers, servers), 0u);
  EXPECT_NE(std::string(servers).find(server_udn_ + "\t"), std::string::npos) << servers;
  EXPECT_NE(std::string(servers).find("\tanswered\t"), std::string::npos) << servers;
  std::string page(65536, '\0');
  ASSERT_EQ(lm_nmc_search_all_get_page(search, 0, 0, static_cast<uint32_t>(page.size()), &page[0]), 0u);
  page.resize(page.find('\0'));
  size_t at = page.find("\tLong Tone\t");
  ASSERT_NE(at, std::string::npos) << page;
  size_t line_end = page.find('\n', at);
  const std::string bookmark = page.substr(page.rfind('\t', line_end) + 1, line_end - page.rfind('\t', line_end) - 1);
  EXPECT_EQ(lm_nmc_search_all_release(search), 0u);
  uint32_t context = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&context), 0u);
  ASSERT_EQ(lm_dmrcp_go_bookmark(context, one_.c_str()), 0u);
  ASSERT_TRUE(ok(query("<ClearQueue><QueueID>" + one_ + "</QueueID></ClearQueue>")));
  ASSERT_EQ(lm_queue_add_bookmark(context, bookmark.c_str()), 0u) << bookmark;
  ASSERT_EQ(lm_queue_go_index(context, 0), 0u);
  ASSERT_EQ(lm_dmrcp_play(context, 0), 0u);
  lm_dmrcp_delete_context(context);
  EXPECT_TRUE(wait_until([&] { return state_of(one_).state == LM_DMR_PLAYING; }, 10000));
}

TEST_F(NmcAcrossRygelLabTest, SearchMergesBothServersAndHandoffReachesRygel) {
  const std::string rygel_server = cp_lab::env("LAB_RYGEL_SERVER_UDN");
  ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, rygel_server.c_str(), nullptr); }, 30000));
  uint32_t search = 0;
  ASSERT_EQ(lm_nmc_search_all("upnp:class derivedfrom \"object.item\"", 10000, nullptr, nullptr, &search), 0u);
  char servers[4096];
  ASSERT_EQ(lm_nmc_search_all_get_servers(search, sizeof servers, servers), 0u);
  for (const std::string &udn : {server_udn_, rygel_server}) {
    const std::string text = servers;
    size_t at = text.find(udn + "\t");
    ASSERT_NE(at, std::string::npos) << text;
    const std::string line = text.substr(at, text.find('\n', at) - at);
    EXPECT_NE(line.find("\tanswered\t"), std::string::npos) << line;
    EXPECT_EQ(line.find("\tanswered\t0\t"), std::string::npos) << "no rows: " << line;
  }
  EXPECT_EQ(lm_nmc_search_all_release(search), 0u);

  play_on_one();
  Sleep(5000);
  char report[512];
  ASSERT_EQ(lm_nmc_handoff(one_.c_str(), two_.c_str(), 20000, sizeof report, report), 0u) << report;
  const std::string words = report;
  EXPECT_NE(words.find("entry 1 of 2 \"Long Tone\" "), std::string::npos) << words;
  State two = state_of(two_);
  EXPECT_EQ(two.state, LM_DMR_PLAYING) << words;
  // At the position, or from the start with the reason said.
  if (words.find(" at 0:00:0") != std::string::npos) {
    EXPECT_GE(two.seconds, 4) << words;
  } else {
    EXPECT_NE(words.find("from the start ("), std::string::npos) << words;
  }
  EXPECT_EQ(state_of(one_).state, LM_DMR_STOPPED) << words;
}

}  // namespace
