// Event subscription against GENA devices that the tests run on 127.0.0.1:
// the text readers, the GENA exchanges, subscription of the table's devices
// with renewal and cancel, the NOTIFY handler's rules (sequence numbers,
// duplicates and the quirk, wrap-around, synthetic count, second try) and
// spoofed NOTIFYs refused and counted while a real subscription goes on, and
// a polled renderer producing synthetic events. The network stack is not
// started; our HTTP server listens on 127.0.0.1 only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_internal.h"
#include "cp_eventing_util.h"
#include "cp_test_util.h"
#include "http/http_server.h"

using cp_eventing_test::avt_body;
using cp_eventing_test::cds_body;
using cp_eventing_test::GenaDevice;
using cp_eventing_test::rcs_body;
using cp_eventing_test::send_notify;
using cp_test::CpTest;
using cp_test::wait_until;

namespace {

using test_support::take_text;

// ---- The text readers -------------------------------------------------

class EventTexts : public ::testing::Test {
 protected:
  void SetUp() override { upnp_mem_init(); }
};

TEST_F(EventTexts, SidIsReadUpToTheFirstBlankAndEmptyOnesCountAsMissing) {
  EXPECT_EQ(take_text(upnp_cp_get_SID("HTTP/1.1 200 OK\r\nSID: uuid:abc-1 x\r\n\r\n")), "uuid:abc-1");
  EXPECT_EQ(take_text(upnp_cp_get_SID("HTTP/1.1 200 OK\r\nsid:uuid:low\r\n\r\n")), "uuid:low");
  EXPECT_EQ(take_text(upnp_cp_get_SID("HTTP/1.1 200 OK\r\nSID: uuid:\r\n\r\n")), "<none>");
  EXPECT_EQ(take_text(upnp_cp_get_SID("HTTP/1.1 200 OK\r\nSID: uu\r\n\r\n")), "<none>");
  EXPECT_EQ(take_text(upnp_cp_get_SID("HTTP/1.1 200 OK\r\nSID: \r\n\r\n")), "<none>");
  EXPECT_EQ(take_text(upnp_cp_get_SID("HTTP/1.1 200 OK\r\nXSID: uuid:a\r\n\r\n")), "<none>");
  EXPECT_EQ(take_text(upnp_cp_get_SID(nullptr)), "<none>");
}

TEST_F(EventTexts, SequenceMustBeginWithADigit) {
  uint32_t seq = 7;
  EXPECT_EQ(upnp_cp_get_event_sequence("NOTIFY / HTTP/1.1\r\nSEQ: 0\r\n\r\n", &seq), 1);
  EXPECT_EQ(seq, 0u);
  EXPECT_EQ(upnp_cp_get_event_sequence("NOTIFY / HTTP/1.1\r\nseq:   42\r\n\r\n", &seq), 1);
  EXPECT_EQ(seq, 42u);
  EXPECT_EQ(upnp_cp_get_event_sequence("NOTIFY / HTTP/1.1\r\nSEQ: 99999999999\r\n\r\n", &seq), 1);
  EXPECT_EQ(seq, 0xFFFFFFFFu);
  EXPECT_EQ(upnp_cp_get_event_sequence("NOTIFY / HTTP/1.1\r\nSEQ: -1\r\n\r\n", &seq), 0);
  EXPECT_EQ(upnp_cp_get_event_sequence("NOTIFY / HTTP/1.1\r\nSID: x\r\n\r\n", &seq), 0);
}

TEST_F(EventTexts, TimeoutIsTheNumberAfterSecond) {
  EXPECT_EQ(upnp_cp_get_timeout("HTTP/1.1 200 OK\r\nTIMEOUT: Second-1800\r\n\r\n", 300), 1800);
  EXPECT_EQ(upnp_cp_get_timeout("HTTP/1.1 200 OK\r\ntimeout: second-20\r\n\r\n", 300), 20);
  EXPECT_EQ(upnp_cp_get_timeout("HTTP/1.1 200 OK\r\nTIMEOUT: Second-infinite\r\n\r\n", 300), 0);
  EXPECT_EQ(upnp_cp_get_timeout("HTTP/1.1 200 OK\r\nTIMEOUT: 1800\r\nX: Second-5\r\n\r\n", 300), 0);
  EXPECT_EQ(upnp_cp_get_timeout("HTTP/1.1 200 OK\r\nSID: uuid:a\r\n\r\n", 300), 300);
}

TEST_F(EventTexts, TransportStateFromQuotedAndEscapedValues) {
  EXPECT_EQ(upnp_cp_get_event_TransportState(avt_body("PAUSED_PLAYBACK").c_str()), 3);
  EXPECT_EQ(upnp_cp_get_event_TransportState("<Event><TransportState val=\"PLAYING\"/></Event>"), 1);
  EXPECT_EQ(upnp_cp_get_event_TransportState(avt_body("DANCING").c_str()), -1);
  EXPECT_EQ(upnp_cp_get_event_TransportState(rcs_body(10).c_str()), -1);
  EXPECT_EQ(upnp_cp_get_event_TransportState("<TransportState val=\"PLAYING"), -1);
}

TEST_F(EventTexts, ServiceTableIsTriedInOrder) {
  EXPECT_EQ(upnp_cp_get_event_service(avt_body("PLAYING").c_str()), UPNP_CP_SERVICE_AVT);
  EXPECT_EQ(upnp_cp_get_event_service(rcs_body(3).c_str()), UPNP_CP_SERVICE_RC);
  EXPECT_EQ(upnp_cp_get_event_service(cds_body(4).c_str()), UPNP_CP_SERVICE_CDS);
  EXPECT_EQ(upnp_cp_get_event_service("<LastChange>x</LastChange>"), UPNP_CP_SERVICE_AVT | UPNP_CP_SERVICE_RC);
  EXPECT_EQ(upnp_cp_get_event_service("<LastChange/><ContainerUpdateIDs/>"), UPNP_CP_SERVICE_AVT | UPNP_CP_SERVICE_RC);
  EXPECT_EQ(upnp_cp_get_event_service("<ContainerUpdateIDs>0,1</ContainerUpdateIDs>"), UPNP_CP_SERVICE_CDS);
  EXPECT_EQ(upnp_cp_get_event_service("<x/>"), 0u);
}

TEST_F(EventTexts, SyntheticEventBody) {
  EXPECT_EQ(take_text(upnp_cp_createSyntheticStateEvent(1, 0)),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">"
            "<e:property><LastChange>&lt;Event xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/AVT/&quot;&gt;"
            "&lt;InstanceID val=&quot;0&quot;&gt;&lt;TransportState val=&quot;PLAYING&quot;/&gt;&lt;/InstanceID&gt;"
            "&lt;/Event&gt;</LastChange></e:property></e:propertyset>");
  std::string marked = take_text(upnp_cp_createSyntheticStateEvent(3, 1));
  EXPECT_NE(marked.find("&lt;SyntheticEvent/&gt;&lt;TransportState val=&quot;PAUSED_PLAYBACK&quot;"), std::string::npos);
  EXPECT_EQ(upnp_cp_get_event_TransportState(marked.c_str()), 3);
  EXPECT_EQ(take_text(upnp_cp_createSyntheticStateEvent(7, 0)), "<none>");
  EXPECT_EQ(take_text(upnp_cp_createSyntheticStateEvent(-1, 0)), "<none>");
}

// ---- GENA exchanges --------------------------------------------------

class GenaTest : public ::testing::Test {
 protected:
  void SetUp() override { upnp_mem_init(); }
  GenaDevice device_;
};

TEST_F(GenaTest, SubscribeSendsTheRequestAndReadsSidAndTimeout) {
  char *sid = nullptr;
  int64_t timeout = 0;
  std::string base = device_.url("/dev");
  ASSERT_EQ(upnp_cp_subscribe("/dev/AVT/event", base.c_str(), "127.0.0.1:9999", &sid, &timeout), 0);
  std::string host = "127.0.0.1:" + std::to_string(device_.port());
  ASSERT_EQ(device_.requests("SUBSCRIBE").size(), 1u);
  EXPECT_EQ(device_.requests("SUBSCRIBE")[0].header,
            "SUBSCRIBE /dev/AVT/event HTTP/1.1\r\nHOST: " + host +
                "\r\nCALLBACK: <http://127.0.0.1:9999/>\r\nNT: upnp:event\r\nTIMEOUT: Second-300\r\n"
                "Connection: close\r\n\r\n");
  ASSERT_NE(sid, nullptr);
  EXPECT_EQ(std::string(sid).rfind("uuid:sub-", 0), 0u);
  EXPECT_EQ(timeout, 1800);

  timeout = 20;
  device_.grant_seconds = -1;  // no TIMEOUT field: the requested time stays
  EXPECT_EQ(upnp_cp_resubscribe("AVT/event", base.c_str(), sid, &timeout), 0);
  EXPECT_EQ(timeout, 20);
  EXPECT_EQ(device_.requests("SUBSCRIBE")[1].header, "SUBSCRIBE /dev/AVT/event HTTP/1.1\r\nHOST: " + host +
                                                         "\r\nSID: " + sid +
                                                         "\r\nTIMEOUT: Second-20\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(upnp_cp_unsubscribe(device_.url("/abs/event").c_str(), base.c_str(), sid), 0);
  EXPECT_EQ(device_.requests("UNSUBSCRIBE")[0].header,
            "UNSUBSCRIBE /abs/event HTTP/1.1\r\nHOST: " + host + "\r\nSID: " + sid + "\r\nConnection: close\r\n\r\n");
  upnp_free_impl(sid);
}

TEST_F(GenaTest, FailuresGiveTheirCodes) {
  char *sid = nullptr;
  int64_t timeout = 0;
  std::string base = device_.url("/dev");
  EXPECT_EQ(upnp_cp_subscribe("", base.c_str(), "127.0.0.1:1", &sid, &timeout), 2);
  EXPECT_EQ(upnp_cp_resubscribe("/e", base.c_str(), "", &timeout), 2);
  EXPECT_EQ(upnp_cp_unsubscribe("/e", nullptr, "uuid:a"), 2);
  device_.renew_status = 412;
  EXPECT_EQ(upnp_cp_resubscribe("/e", base.c_str(), "uuid:gone", &timeout), 412);
  device_.omit_sid = true;
  EXPECT_EQ(upnp_cp_subscribe("/e", base.c_str(), "127.0.0.1:1", &sid, &timeout), 0);
  EXPECT_EQ(sid, nullptr);
  // Nothing listens on port 1 of loopback.
  EXPECT_EQ(upnp_cp_subscribe("/e", "http://127.0.0.1:1/dev", "127.0.0.1:1", &sid, &timeout), 3);
}

// ---- Subscriptions of the table's devices and the NOTIFY handler ------

using cp_test::Received;

std::vector<Received> received() { return cp_test::recorded_events(); }

class EventingTest : public CpTest {
 protected:
  void SetUp() override {
    CpTest::SetUp();
    cp_test::clear_recorded_events();
    ASSERT_EQ(upnp_cp_start(0, 0), 0);
    upnp_control_register_callback(&CpTest::callback);
    upnp_cp_register_subscription_callback(cp_test::record_event);
    server_socket_ = HTTP_server_open("127.0.0.1", 30000 + static_cast<unsigned int>(getpid()) % 20000);
    ASSERT_GE(server_socket_, 0);
    port_ = static_cast<int>(HTTP_server_port(server_socket_));
    interface_ = "127.0.0.1:" + std::to_string(port_);
  }
  void TearDown() override {
    CpTest::TearDown();
    upnp_cp_register_subscription_callback(nullptr);
    if (server_socket_ >= 0) HTTP_server_close(server_socket_);
  }

  // A device on the GENA device; the model text decides quirks.
  int add(const std::string &udn, int kind, const std::string &model = "Crafted", const std::string &extra = "") {
    std::string tail = udn.substr(udn.size() - 6);
    std::vector<std::string> services = kind == 1 ? std::vector<std::string>{"CM", "CDS"}
                                                  : std::vector<std::string>{"CM", "RC", "AVT"};
    for (const std::string &s : services)
      device_.put("/" + tail + "/" + s + ".xml", cp_test::scpd({s == "AVT" ? "GetTransportInfo" : "Get"}));
    std::string type = kind == 1 ? "urn:schemas-upnp-org:device:MediaServer:1" : "urn:schemas-upnp-org:device:MediaRenderer:1";
    std::string text = cp_test::description(udn, type, "Dev " + tail, services, extra);
    size_t at = text.find("<modelName>Crafted</modelName>");
    text.replace(at, 30, "<modelName>" + model + "</modelName>");
    device_.put("/" + tail + "/desc.xml", text);
    upnp_control_add_device(device_.url("/" + tail + "/desc.xml").c_str(), udn.c_str(), interface_.c_str(), 1800, kind);
    int index = -1;
    wait_until([&] {
      index = upnp_control_get_device_index(udn.c_str(), kind);
      return index >= 0 && upnp_control_get_device_state(index, kind) == UPNP_CP_STATE_READY;
    }, 5000);
    return index;
  }

  // Subscribes and waits for the SIDs; the AVTransport (or ContentDirectory) SID.
  std::string subscribe(int index, int kind) {
    EXPECT_EQ(upnp_control_enable_auto_subscription(index, 1, kind), 0);
    EXPECT_TRUE(wait_until([&] { return upnp_cp_is_subscribed(index, kind) == 1; }, 5000));
    return sid(index, kind, kind == 1 ? UPNP_CP_SERVICE_CDS : UPNP_CP_SERVICE_AVT);
  }
  std::string sid(int index, int kind, unsigned int service) {
    return take_text(upnp_cp_get_service_sid(index, kind, service));
  }
  int notify(const std::string &sid, long long seq, const std::string &body, const std::string &from = "127.0.0.1") {
    return send_notify(port_, sid, seq, body, "upnp:event", from);
  }
  std::vector<uint32_t> sequences(unsigned int service) {
    std::vector<uint32_t> out;
    for (const Received &r : received())
      if (r.service == service) out.push_back(r.sequence);
    return out;
  }
  upnp_cp_eventing_stats stats() {
    upnp_cp_eventing_stats s{};
    upnp_cp_eventing_get_stats(&s);
    return s;
  }

  GenaDevice device_;
  int server_socket_ = -1;
  int port_ = 0;
  std::string interface_;
};

TEST_F(EventingTest, RendererSubscriptionCoversBothServicesAndRenewsAtHalfTheGrant) {
  int r = add("uuid:renderer-000001", 2);
  ASSERT_GE(r, 0);
  std::string avt = subscribe(r, 2);
  std::string rc = sid(r, 2, UPNP_CP_SERVICE_RC);
  EXPECT_EQ(avt.rfind("uuid:sub-", 0), 0u);
  EXPECT_EQ(rc.rfind("uuid:sub-", 0), 0u);
  EXPECT_NE(avt, rc);
  auto subscribes = device_.requests("SUBSCRIBE");
  ASSERT_EQ(subscribes.size(), 2u);
  EXPECT_EQ(subscribes[0].path, "/000001/AVT/event");
  EXPECT_EQ(subscribes[1].path, "/000001/RC/event");
  EXPECT_NE(subscribes[0].header.find("CALLBACK: <http://" + interface_ + "/>"), std::string::npos);
  // 1800 s granted: renewal about 900 s later.
  uint64_t next = upnp_cp_next_resubscription_time();
  uint64_t now = upnp_cp_now();
  EXPECT_GE(next + 2, now + 900);
  EXPECT_LE(next, now + 900);
}

TEST_F(EventingTest, ShortGrantIsRenewedAndA412RenewalSubscribesFreshly) {
  device_.grant_seconds = 2;
  int r = add("uuid:renderer-000002", 2);
  std::string first = subscribe(r, 2);
  // Renewal with the SID, before the grant runs out.
  ASSERT_TRUE(wait_until([&] { return device_.requests("SUBSCRIBE").size() >= 4; }, 4000));
  EXPECT_NE(device_.requests("SUBSCRIBE")[2].header.find("SID: " + first), std::string::npos);
  EXPECT_EQ(sid(r, 2, UPNP_CP_SERVICE_AVT), first);
  // The device forgets us: the next renewal subscribes anew.
  device_.renew_status = 412;
  ASSERT_TRUE(wait_until([&] { return sid(r, 2, UPNP_CP_SERVICE_AVT) != first; }, 5000));
  std::string fresh = sid(r, 2, UPNP_CP_SERVICE_AVT);
  EXPECT_EQ(fresh.rfind("uuid:sub-", 0), 0u);
  EXPECT_EQ(notify(fresh, 0, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(first, 1, avt_body("PLAYING")), 412);
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 2000));
  EXPECT_EQ(received()[0].sequence, 0u);
}

TEST_F(EventingTest, RefusedRenewalEndsInAFreshSubscription) {
  device_.grant_seconds = 2;
  int r = add("uuid:renderer-000019", 2);
  std::string first = subscribe(r, 2);
  device_.renew_status = 500;  // not 412: the subscription is dropped, the device stays wanted
  ASSERT_TRUE(wait_until([&] {
    std::string now = sid(r, 2, UPNP_CP_SERVICE_AVT);
    return now != first && now != "<none>";
  }, 8000));
  EXPECT_EQ(upnp_cp_is_subscribed(r, 2), 1);
  EXPECT_EQ(notify(first, 5, avt_body("PLAYING")), 412);
  EXPECT_EQ(notify(sid(r, 2, UPNP_CP_SERVICE_AVT), 0, avt_body("PLAYING")), 200);
}

TEST_F(EventingTest, AskingAgainSubscribesWhatWasLost) {
  int r = add("uuid:renderer-000020", 2);
  std::string first = subscribe(r, 2);
  // As when a reloaded description replaced the service records.
  ASSERT_EQ(upnp_cp_lock_section(), 1);
  upnp_cp_service &avt = static_cast<upnp_cp_renderer_record *>(cp_slot(r, 2)->kind_record)->avt;
  upnp_free_impl(avt.sid);
  avt.sid = nullptr;
  avt.subscribed_at = 0;
  upnp_cp_unlock_section();
  size_t before = device_.requests("SUBSCRIBE").size();
  ASSERT_EQ(upnp_control_enable_auto_subscription(r, 1, 2), 0);
  ASSERT_TRUE(wait_until([&] { return sid(r, 2, UPNP_CP_SERVICE_AVT) != "<none>"; }, 3000));
  std::string fresh = sid(r, 2, UPNP_CP_SERVICE_AVT);
  EXPECT_NE(fresh, first);
  EXPECT_NE(device_.requests("SUBSCRIBE")[before].header.find("NT: upnp:event"), std::string::npos);
  EXPECT_EQ(notify(fresh, 0, avt_body("PLAYING")), 200);
  // Asking again with everything in place sends nothing.
  ASSERT_TRUE(wait_until([&] { return device_.requests("SUBSCRIBE").size() == before + 2; }, 3000));
  ASSERT_EQ(upnp_control_enable_auto_subscription(r, 1, 2), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(device_.requests("SUBSCRIBE").size(), before + 2);
}

// The time asked of devices is the configuration property
// subscription_timeout, set by name (as the ini file and the command line
// do) or through upnp_cp_set_requested_timeout; below 1 the default is asked.
TEST_F(EventingTest, RequestedTimeIsTheConfigurationProperty) {
  const unsigned int key = upnp_ini_file_getPropertyKey("subscription_timeout");
  const struct {
    const char *by_name;  // else through the setter
    int64_t seconds;
    const char *asked;
  } cases[] = {{"600", 0, "600"}, {nullptr, 45, "45"}, {nullptr, 0, "300"}};
  for (const auto &c : cases) {
    if (c.by_name != nullptr) setPropertyByStringkey("subscription_timeout", c.by_name, 0, 1);
    else upnp_cp_set_requested_timeout(c.seconds);
    const char *stored = upnp_ini_file_getString(key);
    EXPECT_STREQ(c.asked, stored != nullptr ? stored : "<none>");
    std::string udn = std::string("uuid:renderer-0000") + c.asked;
    subscribe(add(udn, 2), 2);
    std::vector<cp_eventing_test::Request> sent = device_.requests("SUBSCRIBE");
    ASSERT_EQ(sent[sent.size() - 2].path, "/" + udn.substr(udn.size() - 6) + "/AVT/event");
    EXPECT_NE(sent[sent.size() - 2].header.find(std::string("TIMEOUT: Second-") + c.asked + "\r\n"), std::string::npos);
  }
}

TEST_F(EventingTest, SequenceRulesDuplicatesAndWrapAround) {
  int r = add("uuid:renderer-000003", 2);
  std::string avt = subscribe(r, 2);
  EXPECT_EQ(notify(avt, 0, avt_body("STOPPED")), 200);  // last is -1 right after subscribing
  EXPECT_EQ(notify(avt, 0, avt_body("STOPPED")), 412);  // duplicate
  EXPECT_EQ(notify(avt, 1, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(avt, 20000, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(avt, 3, avt_body("PAUSED_PLAYBACK")), 200);  // restarted numbering
  EXPECT_EQ(notify(avt, 5000, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(avt, 3, avt_body("STOPPED")), 412);  // 3 after 5000 is no wrap-around
  EXPECT_EQ(notify(avt, 4294967295LL, avt_body("STOPPED")), 200);  // all ones: accepted, not counted
  EXPECT_EQ(notify(avt, 5001, avt_body("STOPPED")), 200);
  ASSERT_TRUE(wait_until([&] { return received().size() == 7; }, 2000));
  EXPECT_EQ(sequences(UPNP_CP_SERVICE_AVT), (std::vector<uint32_t>{0, 1, 20000, 3, 5000, 0xFFFFFFFFu, 5001}));
  for (const Received &e : received()) {
    EXPECT_EQ(e.kind, 2);
    EXPECT_EQ(e.index, r);
  }
  EXPECT_EQ(stats().refused_sequence, 2u);
  EXPECT_EQ(stats().accepted, 7u);
}

TEST_F(EventingTest, RepeatedSequenceIsAcceptedWithTheQuirk) {
  int r = add("uuid:renderer-000004", 2, "Crafted", "<modelDescription>TOSHIBA LCDTV</modelDescription>");
  std::string avt = subscribe(r, 2);
  std::string rc = sid(r, 2, UPNP_CP_SERVICE_RC);
  EXPECT_EQ(notify(avt, 5, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(avt, 5, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(rc, 2, rcs_body(10)), 200);
  EXPECT_EQ(notify(rc, 2, rcs_body(11)), 200);
  EXPECT_EQ(notify(rc, 1, rcs_body(12)), 412);
  ASSERT_TRUE(wait_until([&] { return received().size() == 4; }, 2000));
  EXPECT_EQ(sequences(UPNP_CP_SERVICE_RC), (std::vector<uint32_t>{2, 2}));
}

TEST_F(EventingTest, SyntheticCountIsAddedToRealSequenceNumbers) {
  int r = add("uuid:renderer-000005", 2);
  std::string avt = subscribe(r, 2);
  ASSERT_EQ(upnp_cp_lock_section(), 1);
  static_cast<upnp_cp_renderer_record *>(cp_slot(r, 2)->kind_record)->avt.synthetic_count = 2;
  upnp_cp_unlock_section();
  EXPECT_EQ(notify(avt, 10, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(avt, 10, avt_body("PLAYING")), 412);
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 2000));
  EXPECT_EQ(received()[0].sequence, 12u);
}

TEST_F(EventingTest, HeaderChecksAnswer400And412) {
  int r = add("uuid:renderer-000006", 2);
  std::string avt = subscribe(r, 2);
  EXPECT_EQ(notify(avt, -1, avt_body("PLAYING")), 412);  // known SID but no SEQ
  EXPECT_EQ(send_notify(port_, avt, 0, avt_body("PLAYING"), ""), 400);  // no NT/NTS
  EXPECT_EQ(send_notify(port_, avt, 0, avt_body("PLAYING"), "upnp:other"), 412);
  EXPECT_EQ(send_notify(port_, "", 0, avt_body("PLAYING")), 412);
  EXPECT_EQ(notify(avt, 0, "<x>no service named</x>"), 412);
  EXPECT_EQ(stats().refused_malformed, 4u);
  EXPECT_EQ(stats().refused_unidentified, 1u);
  // None of it disturbed the numbering.
  EXPECT_EQ(notify(avt, 0, avt_body("PLAYING")), 200);
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 2000));
}

TEST_F(EventingTest, ChunkedNotifyIsTakenWithinTheBoundAndRefusedAboveIt) {
  int r = add("uuid:renderer-000017", 2);
  std::string avt = subscribe(r, 2);
  std::string body = avt_body("PLAYING");
  EXPECT_EQ(send_notify(port_, avt, 0, body, "upnp:event", "127.0.0.1", "", true, 40), 200);
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 2000));
  EXPECT_EQ(received()[0].body, body);  // the chunks joined whole
  // Above the bound in many chunks, and in one chunk whose size alone is above.
  std::string big = avt_body("STOPPED") + std::string(UPNP_CP_MAX_EVENT_BODY, ' ');
  EXPECT_EQ(send_notify(port_, avt, 1, big, "upnp:event", "127.0.0.1", "", true), 413);
  EXPECT_EQ(send_notify(port_, avt, 1, big, "upnp:event", "127.0.0.1", "", true, big.size()), 413);
  EXPECT_EQ(stats().refused_too_large, 2u);
  // The next event in sequence still arrives.
  EXPECT_EQ(send_notify(port_, avt, 1, avt_body("STOPPED"), "upnp:event", "127.0.0.1", "", true), 200);
  ASSERT_TRUE(wait_until([&] { return received().size() == 2; }, 2000));
  EXPECT_EQ(received()[1].sequence, 1u);
}

TEST_F(EventingTest, SpoofedNotifiesAreRefusedAndCountedWhileRealEventsFlowInOrder) {
  int r = add("uuid:renderer-000007", 2);
  std::string avt = subscribe(r, 2);
  std::string big(300 * 1024, ' ');
  big = avt_body("PLAYING") + big;
  for (int seq = 0; seq < 5; ++seq) {
    EXPECT_EQ(notify("uuid:someone-else", seq, avt_body("STOPPED")), 412);
    EXPECT_EQ(notify(avt, seq, avt_body("PLAYING")), 200);
    EXPECT_EQ(notify(avt, seq, avt_body("STOPPED")), 412);                   // replayed sequence
    EXPECT_EQ(notify(avt, seq + 1, avt_body("STOPPED"), "127.0.0.2"), 412);  // foreign address
    EXPECT_EQ(notify(avt, seq + 1, big), 413);                               // oversized body
    EXPECT_EQ(notify(avt, seq + 1, "<e:propertyset><LastChange>&lt;Event"), 412);  // malformed XML
  }
  ASSERT_TRUE(wait_until([&] { return received().size() == 5; }, 2000));
  EXPECT_EQ(sequences(UPNP_CP_SERVICE_AVT), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  for (const Received &e : received()) EXPECT_EQ(upnp_cp_get_event_TransportState(e.body.c_str()), 1);
  upnp_cp_eventing_stats s = stats();
  EXPECT_EQ(s.accepted, 5u);
  EXPECT_EQ(s.refused_unknown_sid, 5u);
  EXPECT_EQ(s.refused_sequence, 5u);
  EXPECT_EQ(s.refused_foreign, 5u);
  EXPECT_EQ(s.refused_too_large, 5u);
  EXPECT_EQ(s.refused_malformed, 5u);
  EXPECT_EQ(s.second_tries, 0u);
}

TEST_F(EventingTest, EventBeforeTheSubscriptionReplyIsMatchedOnTheSecondTry) {
  std::vector<std::thread> senders;
  std::mutex mutex;
  std::vector<int> answers;
  int port = port_;
  bool first = true;
  device_.subscribe_delay_ms = 100;
  device_.before_answer = [&](const std::string &new_sid) {
    std::lock_guard<std::mutex> hold(mutex);
    if (!first) return;
    first = false;
    senders.emplace_back([&, new_sid, port] {
      int status = send_notify(port, new_sid, 0, avt_body("TRANSITIONING"));
      std::lock_guard<std::mutex> h(mutex);
      answers.push_back(status);
    });
  };
  int r = add("uuid:renderer-000008", 2);
  subscribe(r, 2);
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 3000));
  {
    std::lock_guard<std::mutex> hold(mutex);
    for (std::thread &t : senders) t.join();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], 200);
  }
  EXPECT_EQ(received()[0].sequence, 0u);
  EXPECT_EQ(stats().second_tries, 1u);
}

TEST_F(EventingTest, FloodOfUnknownSidsIsRefusedAtOnceAndRealEventsGoOn) {
  int r = add("uuid:renderer-000009", 2);
  std::string avt = subscribe(r, 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // no exchange of ours is recent
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> flood;
  std::atomic<int> refused{0};
  for (int t = 0; t < 4; ++t) {
    flood.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i)
        if (send_notify(port_, "uuid:flood-" + std::to_string(t * 100 + i), i, avt_body("STOPPED")) == 412) ++refused;
    });
  }
  for (int seq = 0; seq < 10; ++seq) EXPECT_EQ(notify(avt, seq, avt_body("PLAYING")), 200);
  for (std::thread &t : flood) t.join();
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(refused.load(), 200);
  // With a 250 ms wait each, 50 per sender would take 12.5 s.
  EXPECT_LT(elapsed.count(), 5000);
  EXPECT_EQ(stats().refused_unknown_sid, 200u);
  EXPECT_EQ(stats().second_tries, 0u);
  ASSERT_TRUE(wait_until([&] { return received().size() == 10; }, 2000));
  EXPECT_EQ(sequences(UPNP_CP_SERVICE_AVT), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(EventingTest, SecondTriesWhileAnExchangeIsInFlightAreBounded) {
  int a = add("uuid:renderer-000015", 2);
  std::string avt = subscribe(a, 2);
  int b = add("uuid:renderer-000016", 2);
  device_.subscribe_delay_ms = 1500;  // b's exchange stays in flight meanwhile
  ASSERT_EQ(upnp_control_enable_auto_subscription(b, 1, 2), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<std::thread> senders;
  std::vector<long long> took(12);
  std::vector<int> status(12);
  for (int i = 0; i < 12; ++i) {
    senders.emplace_back([&, i] {
      auto start = std::chrono::steady_clock::now();
      status[i] = send_notify(port_, "uuid:spoof-" + std::to_string(i), 0, avt_body("STOPPED"));
      took[i] = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    });
  }
  // A real event is matched at once, not held up by the waiting ones.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(notify(avt, 0, avt_body("PLAYING")), 200);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count(),
            200);
  for (std::thread &t : senders) t.join();
  int waited = 0;
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(status[i], 412);
    if (took[i] >= 240) ++waited;
  }
  EXPECT_LE(waited, UPNP_CP_MAX_EVENT_RETRIES);
  EXPECT_EQ(stats().refused_unknown_sid, 12u);
  EXPECT_TRUE(wait_until([&] { return upnp_cp_is_subscribed(b, 2) == 1; }, 5000));
}

TEST_F(EventingTest, AnswerWithoutSidLeavesTheDeviceUnsubscribed) {
  device_.omit_sid = true;
  int r = add("uuid:renderer-000017", 2);
  ASSERT_EQ(upnp_control_enable_auto_subscription(r, 1, 2), 0);
  ASSERT_TRUE(wait_until([&] { return device_.requests("SUBSCRIBE").size() == 1; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(upnp_cp_is_subscribed(r, 2), 0);
  EXPECT_EQ(sid(r, 2, UPNP_CP_SERVICE_AVT), "<none>");
  EXPECT_EQ(device_.requests("SUBSCRIBE").size(), 1u);  // RenderingControl only after AVTransport
}

TEST_F(EventingTest, DeviceThatCannotBeReachedForSubscribingIsInvalidated) {
  // The URL base points at a port where nothing listens (the descriptions
  // still come from the device's location).
  std::string udn = "uuid:renderer-000018";
  std::vector<std::string> services{"CM", "RC", "AVT"};
  std::string text = cp_test::description(udn, "urn:schemas-upnp-org:device:MediaRenderer:1", "Unreachable", services,
                                          "", "http://127.0.0.1:1");
  device_.put("/000018/desc.xml", text);
  upnp_control_add_device(device_.url("/000018/desc.xml").c_str(), udn.c_str(), interface_.c_str(), 1800, 2);
  int r = -1;
  ASSERT_TRUE(wait_until([&] {
    r = upnp_control_get_device_index(udn.c_str(), 2);
    return r >= 0 && upnp_control_get_device_state(r, 2) == UPNP_CP_STATE_READY;
  }, 5000));
  ASSERT_EQ(upnp_control_enable_auto_subscription(r, 1, 2), 0);
  EXPECT_TRUE(wait_until([&] { return upnp_control_get_device_state(r, 2) == UPNP_CP_STATE_INVALIDATED; }, 3000));
  EXPECT_EQ(upnp_cp_is_subscribed(r, 2), 0);
}

TEST_F(EventingTest, ServerContentDirectoryEventsReachTheCallback) {
  int s = add("uuid:server-000010", 1);
  std::string cds = subscribe(s, 1);
  EXPECT_EQ(device_.requests("SUBSCRIBE")[0].path, "/000010/CDS/event");
  EXPECT_EQ(notify(cds, 0, cds_body(7)), 200);
  EXPECT_EQ(notify(cds, 1, avt_body("PLAYING")), 412);  // the SID is not a renderer's
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 2000));
  EXPECT_EQ(received()[0].kind, 1);
  EXPECT_EQ(received()[0].index, s);
  EXPECT_EQ(received()[0].service, UPNP_CP_SERVICE_CDS);
  EXPECT_EQ(received()[0].body, cds_body(7));
}

TEST_F(EventingTest, PolledRendererProducesSyntheticTransportStateEvents) {
  upnp_ini_file_setPropertyByKey(INI_DMR_STATE_POLL_INTERVAL, "1");
  {
    std::lock_guard<std::mutex> hold(device_.state_mutex);
    device_.transport_state = "PLAYING";
  }
  int r = add("uuid:renderer-000011", 2, "WD TV Live");
  ASSERT_EQ(upnp_cp_is_polled(r, 2), 1);
  std::string avt = subscribe(r, 2);
  ASSERT_TRUE(wait_until([&] { return received().size() == 1; }, 4000));
  {
    std::lock_guard<std::mutex> hold(device_.state_mutex);
    device_.transport_state = "PAUSED_PLAYBACK";
  }
  ASSERT_TRUE(wait_until([&] { return received().size() == 2; }, 4000));
  std::vector<Received> events = received();
  EXPECT_EQ(events[0].service, UPNP_CP_SERVICE_AVT);
  EXPECT_EQ(events[0].body, take_text(upnp_cp_createSyntheticStateEvent(1, 0)));
  EXPECT_EQ(events[1].body, take_text(upnp_cp_createSyntheticStateEvent(3, 0)));
  EXPECT_EQ(events[0].sequence, 0u);  // none accepted yet (-1) plus a count of 1
  EXPECT_EQ(events[1].sequence, 1u);
  // No change, no event.
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  EXPECT_EQ(received().size(), 2u);
  // The device's own SEQ 0 now compares as 2.
  EXPECT_EQ(notify(avt, 0, avt_body("PAUSED_PLAYBACK")), 200);
  ASSERT_TRUE(wait_until([&] { return received().size() == 3; }, 2000));
  EXPECT_EQ(received()[2].sequence, 2u);
  upnp_ini_file_setPropertyByKey(INI_DMR_STATE_POLL_INTERVAL, "5");
}

TEST_F(EventingTest, RenewalsKeepTheirTimeWhileAPolledRendererHangs) {
  upnp_ini_file_setPropertyByKey(INI_DMR_STATE_POLL_INTERVAL, "1");
  device_.grant_seconds = 2;  // renewed about every second
  device_.stall_soap = true;  // GetTransportInfo gets no answer
  struct Release {
    GenaDevice &device;
    ~Release() { device.stall_soap = false; }
  } release{device_};
  int r = add("uuid:renderer-000022", 2, "WD TV Live");
  std::string avt = subscribe(r, 2);
  ASSERT_TRUE(wait_until([&] { return device_.requests("POST").size() == 1; }, 4000));
  size_t before = device_.requests("SUBSCRIBE").size();
  std::this_thread::sleep_for(std::chrono::milliseconds(5000));
  // Each renewal renews both services; while the poll hangs at least two of
  // them go out, keeping the subscription.
  EXPECT_GE(device_.requests("SUBSCRIBE").size(), before + 4);
  EXPECT_EQ(sid(r, 2, UPNP_CP_SERVICE_AVT), avt);
  EXPECT_EQ(device_.requests("POST").size(), 1u);
}

TEST_F(EventingTest, DisablingAndExitCancelSubscriptions) {
  int r = add("uuid:renderer-000012", 2);
  int s = add("uuid:server-000013", 1);
  std::string avt = subscribe(r, 2);
  std::string rc = sid(r, 2, UPNP_CP_SERVICE_RC);
  std::string cds = subscribe(s, 1);
  ASSERT_EQ(upnp_control_enable_auto_subscription(s, 0, 1), 0);
  ASSERT_TRUE(wait_until([&] { return device_.requests("UNSUBSCRIBE").size() == 1; }, 3000));
  EXPECT_NE(device_.requests("UNSUBSCRIBE")[0].header.find("SID: " + cds), std::string::npos);
  ASSERT_TRUE(wait_until([&] { return sid(s, 1, UPNP_CP_SERVICE_CDS) == "<none>"; }, 2000));
  EXPECT_EQ(upnp_cp_is_subscribed(s, 1), 0);
  EXPECT_EQ(notify(cds, 0, cds_body(1)), 412);

  upnp_control_exit();
  auto cancels = device_.requests("UNSUBSCRIBE");
  ASSERT_EQ(cancels.size(), 3u);
  EXPECT_NE(cancels[1].header.find("SID: " + avt), std::string::npos);
  EXPECT_NE(cancels[2].header.find("SID: " + rc), std::string::npos);
}

std::atomic<int> g_notified{0};
int on_notified(HTTP_connection *connection, int status) {
  if (connection != nullptr && status == 200) ++g_notified;
  return 1;  // the handler's result: close the connection
}

TEST_F(EventingTest, NotificationCallbackSeesEveryAcceptedNotify) {
  int r = add("uuid:renderer-000021", 2);
  std::string avt = subscribe(r, 2);
  g_notified = 0;
  upnp_cp_register_notification_callback(on_notified);
  EXPECT_EQ(notify(avt, 0, avt_body("PLAYING")), 200);
  EXPECT_EQ(notify(avt, 0, avt_body("PLAYING")), 412);
  EXPECT_EQ(notify("uuid:unknown", 0, avt_body("PLAYING")), 412);
  EXPECT_EQ(notify(avt, 1, avt_body("STOPPED")), 200);
  // The callback runs once the answer has gone out: wait for it before
  // taking the callback away.
  EXPECT_TRUE(wait_until([] { return g_notified.load() == 2; }, 2000));
  upnp_cp_register_notification_callback(nullptr);
  EXPECT_EQ(notify(avt, 2, avt_body("PLAYING")), 200);
  wait_until([] { return false; }, 100);  // time for a call that should not come
  EXPECT_EQ(g_notified.load(), 2);
}

TEST_F(EventingTest, RegisteringNoCallbackEmptiesTheQueue) {
  int r = add("uuid:renderer-000014", 2);
  std::string avt = subscribe(r, 2);
  ASSERT_EQ(upnp_cp_lock_section(), 1);
  ASSERT_EQ(upnp_cp_add_subscription_event("<a/>", 1, r, 2, UPNP_CP_SERVICE_AVT), 200);
  upnp_cp_unlock_section();
  upnp_cp_register_subscription_callback(nullptr);
  EXPECT_EQ(upnp_cp_eventing_queued(), 0);
  EXPECT_EQ(upnp_cp_add_subscription_event("<a/>", 2, r, 2, UPNP_CP_SERVICE_AVT), 200);
  EXPECT_EQ(upnp_cp_eventing_queued(), 0);
  upnp_cp_register_subscription_callback(cp_test::record_event);
}

}  // namespace
