// The RPC commands against the lab's real peers through curl (run through
// tests/lab/lab.sh): renderer volume and mute set through the API and read
// back by an independent SOAP request to gmediarender; the JSONP forms; a
// search on minidlna; renderers leaving and returning in the event log.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>

#include "cp/upnp_cp.h"
#include "cp_lab_util.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_test_util.h"
#include "support_curl.h"
#include "support_wait.h"
#include "support_wrk.h"
#include "cp/upnp_soap.h"
#include "webapi/lm_nmc_webapi.h"
#include "webapi/webapi_local_files.h"

namespace {

using test_support::command_output;
using test_support::wait_until;
using test_support::url_escape;

struct Reply {
  int status = 0;
  std::string body;
};

// curl with a bounded time; the status after the body's last line.
Reply curl(const std::string &url) {
  std::string out = command_output("curl -s -m 20 -w '\\n%{http_code}' '" + url + "'");
  Reply r;
  size_t cut = out.rfind('\n');
  if (cut == std::string::npos) return r;
  r.status = std::atoi(out.c_str() + cut + 1);
  r.body = out.substr(0, cut);
  return r;
}

// The renderer's RenderingControl control URL from its description.
std::string rendering_control(const std::string &desc) {
  std::string xml = command_output("curl -s -m 10 '" + desc + "'");
  std::smatch m;
  std::regex service("RenderingControl:1</serviceType>[\\s\\S]*?<controlURL>([^<]*)</controlURL>");
  if (!std::regex_search(xml, m, service)) return "";
  std::string path = m[1];
  std::smatch host;
  std::regex origin("^(http://[^/]+)");
  if (!std::regex_search(desc, host, origin)) return "";
  return host[1].str() + (path.empty() || path[0] != '/' ? "/" : "") + path;
}

// An independent SOAP request to the renderer; the value of `out`.
std::string soap_get(const std::string &control, const char *action, const char *out) {
  std::string body = std::string("<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                                 "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:") +
                     action + " xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"><InstanceID>0</InstanceID>"
                     "<Channel>Master</Channel></u:" + action + "></s:Body></s:Envelope>";
  std::string reply = command_output("curl -s -m 10 -H 'Content-Type: text/xml; charset=\"utf-8\"' -H "
                          "'SOAPACTION: \"urn:schemas-upnp-org:service:RenderingControl:1#" +
                          std::string(action) + "\"' --data '" + body + "' '" + control + "'");
  std::smatch m;
  std::regex value(std::string("<") + out + ">([^<]*)</" + out + ">");
  return std::regex_search(reply, m, value) ? m[1].str() : "";
}

using Clock = std::chrono::steady_clock;

// When the watched renderer last announced itself.
std::string g_watched;
std::atomic<Clock::rep> g_last_alive{0};
void observe(int added, const char *, const char *udn, const char *, unsigned int, int, int) {
  if (added && udn != nullptr && g_watched == udn) g_last_alive = Clock::now().time_since_epoch().count();
}

class WebApiLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    NmcTest::SetUp();
    nmc_set_network(1);
    lm_nmc_enable_web_api(1);
    ASSERT_EQ(start(), 1);
    char url[256];
    ASSERT_TRUE(wait_until([&] { return lm_nmc_web_api_base_url(sizeof url, url) == LM_NMC_OK; }, 10000));
    base_ = url;
    renderer_ = cp_lab::env("LAB_RENDERER1_UDN");
    ASSERT_TRUE(wait_until(
        [&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, renderer_.c_str(), nullptr); }, 30000));
  }
  void TearDown() override {
    if (!cp_lab::inside_lab()) return;
    NmcTest::TearDown();
  }
  std::string base_;
  std::string renderer_;
};

TEST_F(WebApiLabTest, RendererCommandsActOnTheRealRenderer) {
  const std::string r = "renderer=" + url_escape(renderer_);
  const std::string control = rendering_control(cp_lab::env("LAB_RENDERER1_DESC"));
  ASSERT_FALSE(control.empty());
  EXPECT_EQ(curl(base_ + "get_status").body, "true");
  const std::string volume_before = curl(base_ + "get_volume_percent?" + r).body;
  ASSERT_FALSE(volume_before.empty());
  Reply set = curl(base_ + "set_volume_percent?" + r + "&volume=23");
  EXPECT_EQ(set.status, 200);
  EXPECT_EQ(set.body, "ok");
  EXPECT_EQ(curl(base_ + "get_volume_percent?" + r).body, "23");
  EXPECT_EQ(soap_get(control, "GetVolume", "CurrentVolume"), "23");
  EXPECT_EQ(curl(base_ + "get_volume_percent?" + r + "&callback=cb").body, "cb(\"23\");");
  EXPECT_EQ(curl(base_ + "set_mute?" + r + "&mute=1").body, "ok");
  EXPECT_EQ(curl(base_ + "get_mute?" + r).body, "1");
  EXPECT_EQ(soap_get(control, "GetMute", "CurrentMute"), "1");
  EXPECT_EQ(curl(base_ + "set_mute?" + r + "&mute=0").body, "ok");
  EXPECT_EQ(soap_get(control, "GetMute", "CurrentMute"), "0");
  Reply state = curl(base_ + "get_state?" + r);
  EXPECT_EQ(state.status, 200);
  EXPECT_TRUE(std::regex_match(state.body, std::regex("[0-6]\\|[^|]*\\|[^|]*"))) << state.body;
  EXPECT_EQ(curl(base_ + "stop?" + r).status, 200);
  // The shared lab's renderer keeps its volume.
  EXPECT_EQ(curl(base_ + "set_volume_percent?" + r + "&volume=" + volume_before).body, "ok");
  // A bookmark that names no renderer, and a foreign Host.
  EXPECT_EQ(curl(base_ + "get_mute?renderer=uuid%3Anone").status, 500);
  Reply foreign = {0, command_output("curl -s -m 10 -o /dev/null -w '%{http_code}' -H 'Host: evil.example' '" + base_ +
                          "get_status'")};
  EXPECT_EQ(foreign.body, "400");
}

TEST_F(WebApiLabTest, SearchOnTheMediaServer) {
  const std::string udn = cp_lab::env("LAB_SERVER_UDN");
  ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, udn.c_str(), nullptr); }, 30000));
  // The server's bookmark as the controller gives it.
  uint32_t context = 0;
  ASSERT_EQ(lm_dmscp_create_context(&context), LM_NMC_OK);
  std::string bookmark;
  uint32_t count = 0;
  ASSERT_EQ(lm_dmscp_go_home(context), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_get_count(context, &count), LM_NMC_OK);
  for (uint32_t i = 0; i < count && bookmark.empty(); ++i) {
    char text[2048] = "";
    char name[256] = "";
    if (lm_dmscp_go_index(context, i) != LM_NMC_OK) continue;
    lm_dmscp_extract_metadata(context, "friendlyName", 0, sizeof name, name);
    if (cp_lab::env("LAB_SERVER_NAME") == name && lm_dmscp_get_bookmark(context, sizeof text, text) == LM_NMC_OK) {
      bookmark = text;
    }
  }
  lm_dmscp_delete_context(context);
  ASSERT_FALSE(bookmark.empty());
  std::string criteria = "upnp:class derivedfrom \"object.item.audioItem\"";
  std::string hex;
  char two[3];
  for (unsigned char c : criteria) {
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  Reply feed = curl(base_ + "search?server=" + url_escape(bookmark) + "&search=" + hex + "&count=5");
  EXPECT_EQ(feed.status, 200);
  EXPECT_NE(feed.body.find("5 objects returned from container"), std::string::npos) << feed.body.substr(0, 400);
  size_t items = 0;
  for (size_t at = 0; (at = feed.body.find("<item>", at)) != std::string::npos; ++at) ++items;
  EXPECT_EQ(items, 5u);
  Reply json =
      curl(base_ + "search?server=" + url_escape(bookmark) + "&search=" + hex + "&count=2&fmt=json&callback=f");
  EXPECT_EQ(json.body.rfind("f({\n\"description\":", 0), 0u) << json.body.substr(0, 200);
  EXPECT_EQ(curl(base_ + "search?server=" + url_escape(bookmark) + "&search=7").status, 501);
}

TEST_F(WebApiLabTest, EventLogFollowsRenderersLeavingAndReturning) {
  const std::string udn2 = cp_lab::env("LAB_RENDERER2_UDN");
  ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_RENDERER, udn2.c_str(), nullptr); }, 30000));
  // The renderers already listed reach the log when the notifier starts.
  Reply first;
  ASSERT_TRUE(wait_until(
      [&] {
        first = curl(base_ + "get_events?eventid=0");
        return first.body.find("renderer 16386 " + udn2) != std::string::npos;
      },
      10000));
  // The control point ignores a byebye within a second of an alive: the
  // renderer is stopped once it has been quiet for two seconds.
  g_watched = udn2;
  g_last_alive = Clock::now().time_since_epoch().count();
  upnp_cp_set_call_observer(observe);
  ASSERT_TRUE(wait_until(
      [] { return Clock::now() - Clock::time_point(Clock::duration(g_last_alive.load())) > std::chrono::seconds(2); },
      60000));
  // The newest ID seen so far: the first number of the last line.
  int last = 0;
  std::smatch m;
  std::string rest = first.body;
  std::regex line("(\\d+) (server|renderer) \\d+ [^\\n]*\\n\\r\\n");
  while (std::regex_search(rest, m, line)) {
    last = std::stoi(m[1]);
    rest = m.suffix();
  }
  ASSERT_EQ(cp_lab::lab("stop renderer2"), 0);
  upnp_cp_set_call_observer(nullptr);
  const bool removed = wait_until(
      [&] { return curl(base_ + "get_events?eventid=" + std::to_string(last)).body.find("renderer 16385") !=
                   std::string::npos; },
      20000);
  ASSERT_EQ(cp_lab::lab("start renderer2"), 0);  // whatever happened: the shared lab stays whole
  EXPECT_TRUE(removed);
  EXPECT_TRUE(wait_until(
      [&] { return curl(base_ + "get_events?eventid=" + std::to_string(last)).body.find("renderer 16386") !=
                   std::string::npos; },
      40000));
  EXPECT_EQ(curl(base_ + "get_events?eventid=" + std::to_string(last) + "&callback=cb").body.rfind("cb(\"", 0), 0u);
}

TEST_F(WebApiLabTest, SharedLocalFilePlaysOnTheRenderer) {
  // A local file shared by token and put on gmediarender by hand, as the
  // queue does for a queued local file.
  std::string file = command_output("find '" + cp_lab::env("LAB_MEDIA") + "' -name '*.mp3' | sort | head -n 1");
  while (!file.empty() && (file.back() == '\n' || file.back() == '\r')) file.pop_back();
  ASSERT_FALSE(file.empty());
  char token[WEBAPI_SHARE_TOKEN_SIZE];
  ASSERT_EQ(webapi_local_file_share(file.c_str(), token, sizeof token), 0);
  const std::string url = base_.substr(0, base_.find("/nmc/rpc/")) + WEBAPI_SHARE_PREFIX + "?" + token;
  EXPECT_EQ(command_output("curl -s -m 10 -o /dev/null -w '%{http_code}' -r 0-99 '" + url + "'"), "206");
  nmc_device_view renderer;
  ASSERT_TRUE(nmc_devices_find_udn(NMC_SIDE_RENDERER, renderer_.c_str(), &renderer));
  ASSERT_EQ(upnp_set_AVTransportURI(renderer.index, url.c_str(), ""), 0);
  ASSERT_EQ(upnp_play(renderer.index), 0);
  const std::string r = "renderer=" + url_escape(renderer_);
  EXPECT_TRUE(wait_until([&] { return curl(base_ + "get_state?" + r).body.rfind("1|", 0) == 0; }, 15000));
  EXPECT_EQ(curl(base_ + "stop?" + r).body, "ok");
  webapi_local_file_unshare(token);
  EXPECT_EQ(command_output("curl -s -m 10 -o /dev/null -w '%{http_code}' '" + url + "'"), "404");
}

}  // namespace
