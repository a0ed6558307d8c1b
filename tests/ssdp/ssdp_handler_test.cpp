// SSDP_cp_handler fed with crafted datagrams (no network), the handler
// table, the request texts and the order of a burst.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "base/upnp_mem.h"
#include "ssdp/upnp_control_record.h"
#include "ssdp/upnp_ssdp.h"
#include "ssdp/upnp_ssdp_internal.h"
#include "ssdp_test_util.h"

using ssdp_test::calls;
using ssdp_test::notify;
using ssdp_test::response;

namespace {

const char kUuid[] = "uuid:4d696e69-444c-164e-9d41-000000000001";
const char kMs[] = "urn:schemas-upnp-org:device:MediaServer:1";
const char kMr[] = "urn:schemas-upnp-org:device:MediaRenderer:1";

class CpHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    upnp_control_record_reset();
    std::strcpy(entry_.address, "192.168.1.5");
    entry_.http_port = 9020;
    upnp_ssdp_enable_search_dms(1);
    upnp_ssdp_enable_search_dmr(1);
    upnp_ssdp_enable_search_remoteui_server(0);
  }
  void TearDown() override {
    upnp_ssdp_enable_search_dms(1);
    upnp_ssdp_enable_search_dmr(1);
    upnp_ssdp_enable_search_remoteui_server(0);
  }
  void feed(const std::string &message) { SSDP_cp_handler(message.c_str(), &entry_, "192.168.1.20", 1900); }

  upnp_interface_entry entry_;
};

std::string usn(const std::string &type) { return std::string(kUuid) + "::" + type; }

}  // namespace

TEST_F(CpHandlerTest, DeviceTypeAnnouncementAddsTheDevice) {
  ssdp_test::LogFile log;
  feed(notify(kMs, "ssdp:alive", usn(kMs)));
  auto all = calls();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].added, 1);
  EXPECT_EQ(all[0].kind, UPNP_KIND_MEDIA_SERVER);
  EXPECT_STREQ(all[0].location, "http://192.168.1.20:8200/rootDesc.xml");
  EXPECT_STREQ(all[0].udn, kUuid);
  EXPECT_STREQ(all[0].interface, "192.168.1.5:9020");
  EXPECT_EQ(all[0].validity_seconds, 1800u);
  EXPECT_EQ(log.count("### SSDP CP handler received multicast SSDP:\n"), 1);
}

TEST_F(CpHandlerTest, RootUuidAndServiceAnnouncementsAreIgnored) {
  feed(notify("upnp:rootdevice", "ssdp:alive", std::string(kUuid) + "::upnp:rootdevice"));
  feed(notify(kUuid, "ssdp:alive", kUuid));
  feed(notify("urn:schemas-upnp-org:service:ContentDirectory:1", "ssdp:alive",
              usn("urn:schemas-upnp-org:service:ContentDirectory:1")));
  feed(notify("urn:schemas-upnp-org:service:AVTransport:1", "ssdp:alive",
              usn("urn:schemas-upnp-org:service:AVTransport:1")));
  EXPECT_TRUE(calls().empty());
  feed(notify(kMr, "ssdp:alive", usn(kMr)));
  auto all = calls();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].kind, UPNP_KIND_MEDIA_RENDERER);
}

TEST_F(CpHandlerTest, AliveWithoutServerIsDroppedByebyeNeedsNone) {
  ssdp_test::LogFile log;
  feed(notify(kMr, "ssdp:alive", usn(kMr), "http://192.168.1.21/d.xml", "max-age=1800", {"SERVER"}));
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(log.count("\"SERVER:\" entry not found in SSDP packet"), 1);

  feed(notify(kMr, "ssdp:alive", usn(kMr)));
  unsigned long long seen = upnp_control_record_call_count();
  feed(notify(kMr, "ssdp:byebye", usn(kMr), "", "", {"SERVER", "LOCATION", "CACHE-CONTROL"}));
  // A delete, as a renderer first. (The device table is not running here, so
  // it knows no device and the handler goes on to the other kinds; that the
  // handler stops at the kind the table knows is tested with the table in
  // tests/cp.)
  auto all = calls(seen);
  ASSERT_GE(all.size(), 1u);
  EXPECT_EQ(all[0].added, 0);
  EXPECT_EQ(all[0].kind, UPNP_KIND_MEDIA_RENDERER);
  EXPECT_EQ(all[0].found, 1);
  EXPECT_STREQ(all[0].udn, kUuid);
}

TEST_F(CpHandlerTest, ByebyeTriesRendererThenServerThenRemoteUi) {
  feed(notify(kMs, "ssdp:alive", usn(kMs)));
  unsigned long long seen = upnp_control_record_call_count();
  feed(notify(kMs, "ssdp:byebye", usn(kMs)));
  auto all = calls(seen);
  // The device table is not running here and knows nothing, so all three
  // kinds are tried; the recording tells where the server was.
  ASSERT_EQ(all.size(), 3u) << "renderer (not found), then server (found)";
  EXPECT_EQ(all[0].kind, UPNP_KIND_MEDIA_RENDERER);
  EXPECT_EQ(all[0].found, 0);
  EXPECT_EQ(all[1].kind, UPNP_KIND_MEDIA_SERVER);
  EXPECT_EQ(all[1].found, 1);

  upnp_control_record_reset();
  feed(notify(kMs, "ssdp:byebye", "uuid:unknown::upnp:rootdevice"));
  all = calls();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].kind, UPNP_KIND_REMOTE_UI_SERVER);
  EXPECT_STREQ(all[2].udn, "uuid:unknown");
}

TEST_F(CpHandlerTest, ByebyeWithoutUsnIsDropped) {
  ssdp_test::LogFile log;
  feed(notify(kMs, "ssdp:byebye", "", "", "", {"USN"}));
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(log.count("USN not found in SSDP packet"), 1);
}

TEST_F(CpHandlerTest, MaxAgeBelowSixtyOrMissingGivesHalfAnHour) {
  struct Case {
    const char *cache_control;
    unsigned int validity;
  } cases[] = {{"max-age=30", 1800},   {"max-age=120", 120},   {"max-age=60", 60},      {"max-age=59", 1800},
               {"MAX-AGE = 300", 300}, {"max-age=", 1800},     {"no-cache", 1800},      {"max-age=abc", 1800},
               {"max-age=99999999999999999999", 999999999}};
  for (const Case &c : cases) {
    upnp_control_record_reset();
    feed(notify(kMs, "ssdp:alive", usn(kMs), "http://192.168.1.20:8200/rootDesc.xml", c.cache_control));
    auto all = calls();
    ASSERT_EQ(all.size(), 1u) << c.cache_control;
    EXPECT_EQ(all[0].validity_seconds, c.validity) << c.cache_control;
  }
  upnp_control_record_reset();
  feed(notify(kMs, "ssdp:alive", usn(kMs), "http://x/", "", {"CACHE-CONTROL"}));
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].validity_seconds, 1800u);
}

TEST_F(CpHandlerTest, UsnIsCutAtDoubleColonAndValuesAreTrimmed) {
  feed(notify(kMr, "ssdp:alive", std::string(kUuid) + "::" + kMr + "\t \x01", "  http://192.168.1.21/d.xml \x7f\t"));
  feed(notify(kMr, "ssdp:alive", "uuid:plain-udn"));
  auto all = calls();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_STREQ(all[0].udn, kUuid);
  EXPECT_STREQ(all[0].location, "http://192.168.1.21/d.xml \x7f") << "only characters up to the blank are dropped";
  EXPECT_STREQ(all[1].udn, "uuid:plain-udn");
}

TEST_F(CpHandlerTest, SearchResponsesUseTheirSt) {
  ssdp_test::LogFile log;
  feed(response(kMr, usn(kMr)));
  feed(response("upnp:rootdevice", std::string(kUuid) + "::upnp:rootdevice"));
  feed(response(kMs, usn(kMs), "http://192.168.1.21/s.xml", "max-age=100", {"SERVER"}));
  auto all = calls();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].kind, UPNP_KIND_MEDIA_RENDERER);
  EXPECT_STREQ(all[0].location, "http://192.168.1.21:49494/desc.xml");
  EXPECT_EQ(log.count("### SSDP CP handler received MSearch response:\n"), 3);
  EXPECT_EQ(log.count("\"SERVER:\" entry not found in SSDP packet"), 1);
}

TEST_F(CpHandlerTest, KindsFollowTheSearchSwitches) {
  const std::string ruis = "urn:schemas-upnp-org:device:RemoteUIServer:1";
  feed(notify(ruis, "ssdp:alive", usn(ruis)));
  EXPECT_TRUE(calls().empty()) << "remote-UI servers are off by default";
  upnp_ssdp_enable_search_remoteui_server(1);
  feed(notify(ruis, "ssdp:alive", usn(ruis)));
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].kind, UPNP_KIND_REMOTE_UI_SERVER);

  upnp_control_record_reset();
  upnp_ssdp_enable_search_dms(0);
  feed(notify(kMs, "ssdp:alive", usn(kMs)));
  EXPECT_TRUE(calls().empty());
  // Prefix and case: a later version and lower case still count.
  feed(notify("URN:SCHEMAS-UPNP-ORG:DEVICE:MEDIARENDERER:2", "ssdp:alive", usn(kMr)));
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].kind, UPNP_KIND_MEDIA_RENDERER);
}

TEST_F(CpHandlerTest, MalformedNotificationsAreDropped) {
  ssdp_test::LogFile log;
  feed("NOTIFY * HTTP/1.0\r\nNT: " + std::string(kMs) + "\r\nNTS: ssdp:alive\r\nSERVER: x\r\nUSN: uuid:a\r\n" +
       "LOCATION: http://x/\r\n\r\n");
  feed(notify(kMs, "ssdp:alive", usn(kMs), "http://x/", "max-age=1800", {"NTS"}));
  feed(notify(kMs, "ssdp:update", usn(kMs)));
  feed(notify(kMs, "ssdp:alive", usn(kMs), "", "max-age=1800", {"LOCATION"}));
  feed(notify(kMs, "ssdp:alive", "", "http://x/", "max-age=1800", {"USN"}));
  feed(notify(kMs, "ssdp:alive", "::" + std::string(kMs)));
  feed("M-SEARCH * HTTP/1.1\r\nST: " + std::string(kMs) + "\r\n\r\n");
  feed("HTTP/1.0 200 OK\r\nST: " + std::string(kMs) + "\r\nSERVER: x\r\nUSN: uuid:a\r\nLOCATION: http://x/\r\n\r\n");
  feed("");
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(log.count("Not an HTTP/1.1 notification"), 1);
  EXPECT_EQ(log.count("\"NTS:\" entry not found in SSDP packet"), 1);
  EXPECT_EQ(log.count("Unknown SSDP notification"), 1);
  EXPECT_EQ(log.count("LOCATION not found in SSDP message"), 1);
  EXPECT_EQ(log.count("USN not found in SSDP message"), 2);
  // Lower-case method and field names are still a notification.
  feed("notify * HTTP/1.1\r\nnt: " + std::string(kMs) + "\r\nnts: ssdp:alive\r\nserver: x\r\nusn: uuid:a\r\n" +
       "location: http://x/\r\n\r\n");
  EXPECT_EQ(calls().size(), 1u);
}

TEST_F(CpHandlerTest, EntryWithoutAddressOrPortAddsNothing) {
  entry_.http_port = 0;
  feed(notify(kMs, "ssdp:alive", usn(kMs)));
  entry_.http_port = 9020;
  entry_.address[0] = '\0';
  feed(notify(kMs, "ssdp:alive", usn(kMs)));
  SSDP_cp_handler(notify(kMs, "ssdp:alive", usn(kMs)).c_str(), nullptr, "1.2.3.4", 1900);
  SSDP_cp_handler(nullptr, &entry_, "1.2.3.4", 1900);
  EXPECT_TRUE(calls().empty());
}

TEST_F(CpHandlerTest, GarbageAndBinaryDatagramsAreHarmless) {
  std::mt19937 random(12345);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(random() % 1025, '\0');
    for (char &c : bytes) c = static_cast<char>(random() % 256);
    if (i % 3 == 0) bytes = "NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\nSERVER: \r\nNT: " + bytes;
    if (i % 3 == 1) bytes = "HTTP/1.1 200\r\nSERVER:\r\nST: urn:schemas-upnp-org:device:MediaServer" + bytes;
    feed(bytes);
  }
  // Whatever was added carries the full fields.
  for (const upnp_control_call &call : calls()) {
    EXPECT_NE(call.udn[0], '\0');
    EXPECT_NE(call.location[0], '\0');
  }
}

TEST_F(CpHandlerTest, TenThousandDistinctDevicesStayWithinTheTables) {
  int64_t before = upnp_mem_used();
  for (int i = 0; i < 10000; ++i) {
    std::string udn = "uuid:burst-" + std::to_string(i);
    feed(notify(kMr, "ssdp:alive", udn + "::" + kMr, "http://192.168.1.30:" + std::to_string(1000 + i % 50000) + "/d"));
  }
  EXPECT_EQ(upnp_control_record_device_count(UPNP_KIND_MEDIA_RENDERER), UPNP_RECORD_MAX_DEVICES);
  EXPECT_EQ(upnp_control_record_refused(), 10000u - UPNP_RECORD_MAX_DEVICES);
  EXPECT_EQ(upnp_control_record_call_count(), static_cast<unsigned long long>(UPNP_RECORD_MAX_DEVICES));
  EXPECT_EQ(upnp_mem_used(), before) << "the handler keeps nothing";
  // A byebye frees a slot for the next one.
  feed(notify(kMr, "ssdp:byebye", "uuid:burst-3::" + std::string(kMr)));
  feed(notify(kMr, "ssdp:alive", "uuid:burst-9999::" + std::string(kMr)));
  EXPECT_EQ(upnp_control_record_device_count(UPNP_KIND_MEDIA_RENDERER), UPNP_RECORD_MAX_DEVICES);
  EXPECT_STREQ(calls().back().udn, "uuid:burst-9999");
}

namespace {
int g_first_calls = 0;
int g_second_calls = 0;
void first_handler(const char *, upnp_interface_entry *, const char *, int) { ++g_first_calls; }
void second_handler(const char *, upnp_interface_entry *, const char *, int) {
  EXPECT_EQ(g_first_calls, g_second_calls + 1) << "registration order";
  ++g_second_calls;
}
void filler(const char *, upnp_interface_entry *, const char *, int) {}
}  // namespace

TEST(SsdpHandlers, RegistrationOrderLimitAndControlPointInit) {
  ssdp_test::LogFile log;
  EXPECT_EQ(upnp_ssdp_register_handler(nullptr, "none"), 0);
  EXPECT_EQ(log.count("missing handler function for"), 1);
  upnp_cp_ssdp_init(0);
  EXPECT_EQ(upnp_ssdp_is_control_point(), 1);
  EXPECT_EQ(upnp_ssdp_handler_is_registered(SSDP_cp_handler), 1);
  EXPECT_EQ(log.count("registered handler Controlpoint"), 1);
  upnp_cp_ssdp_init(0);
  EXPECT_EQ(log.count("registered handler Controlpoint"), 1) << "registered once";
  EXPECT_EQ(upnp_ssdp_register_handler(first_handler, "first"), 1);
  EXPECT_EQ(upnp_ssdp_register_handler(second_handler, "second"), 1);
  upnp_interface_entry entry;
  upnp_ssdp_dispatch("x", &entry, "1.2.3.4", 1);
  EXPECT_EQ(g_first_calls, 1);
  EXPECT_EQ(g_second_calls, 1);
  int registered = 3;
  while (upnp_ssdp_register_handler(filler, "filler") == 1) ++registered;
  EXPECT_EQ(registered, SSDP_MAX_HANDLERS);
  EXPECT_EQ(log.count("Too many callback handlers registered"), 1);
}

TEST(SsdpRequests, ExactTextsAndBurstOrder) {
  upnp_ssdp_set_enable_quick_msearches(1);
  EXPECT_STREQ(ssdp_request_text(SSDP_REQ_SERVER),
               "M-SEARCH * HTTP/1.1\r\nMX: 10\r\nST: urn:schemas-upnp-org:device:MediaServer:1\r\n"
               "HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n\r\n");
  EXPECT_STREQ(ssdp_request_text(SSDP_REQ_RENDERER_SHORT),
               "M-SEARCH * HTTP/1.1\r\nMX: 3\r\nST: urn:schemas-upnp-org:device:MediaRenderer:1\r\n"
               "HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n\r\n");
  EXPECT_STREQ(ssdp_request_text(SSDP_REQ_GATEWAY),
               "M-SEARCH * HTTP/1.1\r\nMX: 10\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
               "HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n\r\n");
  EXPECT_EQ(ssdp_request_text(SSDP_REQ_COUNT), nullptr);

  using V = std::vector<int>;
  EXPECT_EQ(ssdp_burst_requests(false), (V{SSDP_REQ_RENDERER_SHORT, SSDP_REQ_SERVER_SHORT, SSDP_REQ_RENDERER,
                                           SSDP_REQ_SERVER}));
  EXPECT_EQ(ssdp_burst_requests(true), (V{SSDP_REQ_RENDERER, SSDP_REQ_SERVER}));
  upnp_ssdp_enable_search_remoteui_server(1);
  upnp_ssdp_enable_search_remoteui_client(1);
  upnp_ssdp_enable_search_igd(1);
  EXPECT_EQ(ssdp_burst_requests(false),
            (V{SSDP_REQ_REMOTEUI_SERVER, SSDP_REQ_RENDERER_SHORT, SSDP_REQ_SERVER_SHORT, SSDP_REQ_RENDERER,
               SSDP_REQ_SERVER, SSDP_REQ_REMOTEUI_CLIENT, SSDP_REQ_GATEWAY}));
  EXPECT_EQ(ssdp_burst_requests(true), (V{SSDP_REQ_RENDERER, SSDP_REQ_SERVER}));
  upnp_ssdp_set_enable_quick_msearches(0);
  upnp_ssdp_enable_search_dmr(0);
  EXPECT_EQ(ssdp_burst_requests(false),
            (V{SSDP_REQ_REMOTEUI_SERVER, SSDP_REQ_SERVER, SSDP_REQ_REMOTEUI_CLIENT, SSDP_REQ_GATEWAY}));
  upnp_ssdp_enable_search_remoteui_server(0);
  upnp_ssdp_enable_search_remoteui_client(0);
  upnp_ssdp_enable_search_igd(0);
  upnp_ssdp_set_enable_quick_msearches(1);
  upnp_ssdp_enable_search_dmr(1);
}

TEST(SsdpSettings, TimingIsSetInSecondsAndKeptInMilliseconds) {
  upnp_ssdp_set_msearch_interval(7);
  upnp_ssdp_set_msearch_initial_interval(2);
  EXPECT_EQ(upnp_ssdp_get_msearch_interval(), 7);
  EXPECT_EQ(g_ssdp_search.repeat_interval_ms.load(), 7000u);
  EXPECT_EQ(g_ssdp_search.initial_interval_ms.load(), 2000u);
  upnp_ssdp_set_msearch_interval(-5);
  EXPECT_EQ(upnp_ssdp_get_msearch_interval(), 0);
  upnp_ssdp_set_msearch_interval(0);
  upnp_ssdp_set_msearch_initial_interval(3);
}
