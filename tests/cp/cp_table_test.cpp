// The device table driven through its SSDP entry points against crafted
// descriptions served from 127.0.0.1: the state table's edge cases, the
// event queue's cancel rules, limits, validation and the queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp_test_util.h"
#include "ssdp/upnp_ssdp.h"
#include "ssdp/upnp_ssdp_interfaces.h"

extern "C" int upnp_cp_queued_event_count(void);

using cp_test::CpTest;
using cp_test::LogFile;
using cp_test::wait_until;

namespace {

const char kIf[] = "127.0.0.1:9000";

class TableTest : public CpTest {
 protected:
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(upnp_cp_start(0, 0), 0);
    upnp_control_register_callback(&CpTest::callback);
  }
  bool ready(const std::string &udn, int kind) {
    int index = index_of(udn, kind);
    return index >= 0 && upnp_control_get_device_state(index, kind) == UPNP_CP_STATE_READY;
  }
  std::string name_of(int index, int kind) {
    char name[80];
    upnp_control_get_device_name(index, name, sizeof name, kind);
    return name;
  }
};

TEST_F(TableTest, StartInstallsTheControlPointsResultTexts) {
  EXPECT_STREQ(upnp_get_errmsg(701), "Transition not available");
}

TEST_F(TableTest, RendererAndServerAreAddedWithTheirFields) {
  std::string r = serve_device("uuid:renderer-000001", 2, "Living Room");
  std::string s = serve_device("uuid:server-000002", 1, "Music Store");
  upnp_control_add_device(r.c_str(), "uuid:renderer-000001", kIf, 1800, 2);
  upnp_control_add_device(s.c_str(), "uuid:server-000002", kIf, 1800, 1);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:renderer-000001", 2) && ready("uuid:server-000002", 1); }, 5000));
  int ri = index_of("uuid:renderer-000001", 2);
  int si = index_of("uuid:server-000002", 1);
  char name[80], udn[80], base[200];
  ASSERT_EQ(upnp_control_get_device_info(ri, name, sizeof name, udn, sizeof udn, 2), 0);
  EXPECT_STREQ(name, "Living Room");
  EXPECT_STREQ(udn, "uuid:renderer-000001");
  ASSERT_EQ(upnp_control_get_urlbase(ri, base, sizeof base, 2), 0);
  EXPECT_EQ(std::string(base), server_.url("/000001"));
  EXPECT_EQ(upnp_control_get_device_services(ri, 2), UPNP_CP_SERVICE_CM | UPNP_CP_SERVICE_RC | UPNP_CP_SERVICE_AVT);
  EXPECT_EQ(upnp_control_get_device_services(si, 1), UPNP_CP_SERVICE_CM | UPNP_CP_SERVICE_CDS);
  EXPECT_EQ(has_playlist_capability(si), 1);
  EXPECT_EQ(upnp_control_get_next_renderer_index(-1), ri);
  EXPECT_EQ(upnp_control_get_next_renderer_index(ri), -1);
  EXPECT_EQ(upnp_control_get_previous_server_index(-1), si);
  EXPECT_TRUE(upnp_cp_is_local_device(ri, 2));
  int major = 0, minor = 0;
  EXPECT_EQ(upnp_control_get_upnp_version(si, 1, &major, &minor), 0);
  EXPECT_EQ(major, 1);
  char small[4];
  EXPECT_EQ(upnp_control_get_device_name(ri, small, sizeof small, 2), UPNP_CP_BUFFER_TOO_SMALL);
  EXPECT_EQ(small[0], '\0');
  char joined[256];
  ASSERT_EQ(upnp_cp_make_absolute_url(ri, "/x/y", joined, sizeof joined, 2), 0);
  EXPECT_EQ(std::string(joined), server_.url("/x/y"));
  ASSERT_TRUE(wait_until([&] { return count_events(0, 2, ri) == 1 && count_events(0, 1, si) == 1; }, 2000));
  EXPECT_EQ(events().size(), 2u);
  EXPECT_EQ(upnp_control_get_device_name(ri + 1, name, sizeof name, 2), UPNP_CP_DEVICE_GONE);
  EXPECT_EQ(upnp_control_get_device_name(99, name, sizeof name, 2), UPNP_CP_INVALID_INDEX);
  EXPECT_EQ(upnp_control_get_device_name(0, name, sizeof name, 7), UPNP_CP_INVALID_PARAMETER);
}

TEST_F(TableTest, AliveDuringLoadingRefreshesButLoadsOnce) {
  std::string r = serve_device("uuid:slow-000003", 2, "Slow", {}, 800);
  upnp_control_add_device(r.c_str(), "uuid:slow-000003", kIf, 1800, 2);
  ASSERT_TRUE(wait_until([&] { return server_.hits("/000003/desc.xml") == 1; }, 2000));
  upnp_control_add_device(r.c_str(), "uuid:slow-000003", kIf, 1800, 2);
  EXPECT_EQ(upnp_control_get_device_state(index_of("uuid:slow-000003", 2), 2), (int)UPNP_CP_STATE_LOADING);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:slow-000003", 2); }, 5000));
  cp_test::wait_until([] { return false; }, 400);
  EXPECT_EQ(server_.hits("/000003/desc.xml"), 1);
  EXPECT_EQ(count_events(0, 2, index_of("uuid:slow-000003", 2)), 1);
}

TEST_F(TableTest, ByebyeWithinASecondOfAliveKeepsTheDevice) {
  LogFile log;
  std::string r = serve_device("uuid:quick-000004", 2, "Quick");
  upnp_control_add_device(r.c_str(), "uuid:quick-000004", kIf, 1800, 2);
  EXPECT_EQ(upnp_control_delete_device("uuid:quick-000004", 2), 1);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:quick-000004", 2); }, 5000));
  EXPECT_EQ(log.count("Ignoring byebye after alive"), 1);
  EXPECT_EQ(upnp_control_delete_device("uuid:unknown", 2), 0);
}

// A ready device's byebye right after an alive of it (its periodic one just
// before it leaves, or the alive of its restart overtaking the byebye): it
// is asked again and stays only when it answers.
TEST_F(TableTest, ByebyeRightAfterAnAliveOfAReadyDeviceAsksItAgain) {
  upnp_ini_file_setPropertyByKey(INI_REVALIDATE_TIME, "2");
  for (bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "answers" : "silent");
    const std::string udn = answers ? "uuid:again-000021" : "uuid:again-000022";
    std::string r = serve_device(udn, 2, "Again");
    upnp_control_add_device(r.c_str(), udn.c_str(), kIf, 1800, 2);
    ASSERT_TRUE(wait_until([&] { return ready(udn, 2); }, 5000));
    int index = index_of(udn, 2);
    wait_until([] { return false; }, 1100);
    upnp_control_add_device(r.c_str(), udn.c_str(), kIf, 1800, 2);
    EXPECT_EQ(upnp_control_delete_device(udn.c_str(), 2), 1);
    EXPECT_EQ(upnp_control_get_device_state(index, 2), (int)UPNP_CP_STATE_INVALIDATED);
    if (answers) {
      upnp_control_add_device(r.c_str(), udn.c_str(), kIf, 1800, 2);
      ASSERT_TRUE(wait_until([&] { return ready(udn, 2); }, 5000));
    }
    validateDevices(upnp_cp_now() + 20, 2);
    EXPECT_EQ(ready(udn, 2), answers);
    EXPECT_EQ(index_of(udn, 2) == index, answers);
  }
}

TEST_F(TableTest, ByebyeDuringLoadingDeletesWithoutEvents) {
  std::string r = serve_device("uuid:gone-000005", 2, "Gone", {}, 2500);
  upnp_control_add_device(r.c_str(), "uuid:gone-000005", kIf, 1800, 2);
  int index = index_of("uuid:gone-000005", 2);
  ASSERT_GE(index, 0);
  wait_until([] { return false; }, 1100);
  EXPECT_EQ(upnp_control_delete_device("uuid:gone-000005", 2), 1);
  EXPECT_EQ(upnp_control_get_device_state(index, 2), (int)UPNP_CP_STATE_BYEBYE);
  ASSERT_TRUE(wait_until([&] { return upnp_control_get_device_state(index, 2) == (int)UPNP_CP_STATE_FREE; }, 5000));
  EXPECT_EQ(index_of("uuid:gone-000005", 2), -1);
  wait_until([] { return false; }, 500);
  EXPECT_TRUE(events().empty());
}

TEST_F(TableTest, ByebyeDuringLoadingThenAliveAddsNormally) {
  std::string r = serve_device("uuid:back-000006", 2, "Back", {}, 2500);
  upnp_control_add_device(r.c_str(), "uuid:back-000006", kIf, 1800, 2);
  int index = index_of("uuid:back-000006", 2);
  wait_until([] { return false; }, 1100);
  EXPECT_EQ(upnp_control_delete_device("uuid:back-000006", 2), 1);
  upnp_control_add_device(r.c_str(), "uuid:back-000006", kIf, 1800, 2);
  EXPECT_EQ(upnp_control_get_device_state(index, 2), (int)UPNP_CP_STATE_LOADING);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:back-000006", 2); }, 6000));
  ASSERT_TRUE(wait_until([&] { return count_events(0, 2, index) == 1; }, 2000));
}

TEST_F(TableTest, QueuedAddedIsWithdrawnByRemoved) {
  LogFile log;
  ASSERT_EQ(upnp_cp_lock_section(), 1);  // keeps the notifier from taking events
  upnp_control_notify_callback(0, 2, 3, "Kitchen");
  upnp_control_notify_callback(0, 2, 3, "Kitchen");  // dropped: already queued
  EXPECT_EQ(upnp_cp_queued_event_count(), 1);
  upnp_control_notify_callback(1, 2, 3, "Kitchen");  // withdraws the added, dropped itself
  EXPECT_EQ(upnp_cp_queued_event_count(), 0);
  upnp_control_notify_callback(1, 1, 4, "Shelf");
  upnp_control_notify_callback(1, 1, 4, "Shelf");  // removed after removed: dropped
  upnp_control_notify_callback(0, 1, 4, "Shelf");  // added after removed: appended
  upnp_control_notify_callback(2, 1, 4, "Shelf");  // type 2 is never queued
  upnp_control_notify_callback(0, 1, 5, nullptr);  // nameless: not queued
  EXPECT_EQ(upnp_cp_queued_event_count(), 2);
  upnp_cp_unlock_section();
  ASSERT_TRUE(wait_until([&] { return events().size() == 2; }, 2000));
  auto all = events();
  EXPECT_EQ(all[0].type, 1);
  EXPECT_EQ(all[1].type, 0);
  EXPECT_EQ(all[0].name, "Shelf");
  EXPECT_EQ(count_events(0, 2, 3), 0);
  EXPECT_EQ(log.count("Dropping queued event 0 for Kitchen due to event 1"), 1);
}

TEST_F(TableTest, ThirtyFirstRendererIsRefused) {
  LogFile log;
  for (int i = 0; i < 31; ++i) {
    char udn[40];
    std::snprintf(udn, sizeof udn, "uuid:many-%06d", 100 + i);
    std::string r = serve_device(udn, 2, "Renderer " + std::to_string(i));
    upnp_control_add_device(r.c_str(), udn, kIf, 1800, 2);
  }
  EXPECT_EQ(log.count("upnp_control_add_device Too many devices: cannot add uuid:many-000130"), 1);
  ASSERT_TRUE(wait_until([&] {
    int n = 0;
    for (int i = upnp_control_get_next_renderer_index(-1); i >= 0; i = upnp_control_get_next_renderer_index(i)) ++n;
    return n == 30;
  }, 10000));
  EXPECT_EQ(index_of("uuid:many-000130", 2), -1);
}

TEST_F(TableTest, FloodOfUnknownDevicesLeavesKnownOnesAlone) {
  std::string a = serve_device("uuid:known-000020", 2, "Known A");
  std::string b = serve_device("uuid:known-000021", 2, "Known B");
  upnp_control_add_device(a.c_str(), "uuid:known-000020", kIf, 1800, 2);
  upnp_control_add_device(b.c_str(), "uuid:known-000021", kIf, 1800, 2);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:known-000020", 2) && ready("uuid:known-000021", 2); }, 5000));
  int ia = index_of("uuid:known-000020", 2), ib = index_of("uuid:known-000021", 2);
  std::string nowhere = server_.url("/nowhere.xml");
  int occupied_max = 0;
  for (int i = 0; i < 1000; ++i) {
    char udn[40];
    std::snprintf(udn, sizeof udn, "uuid:flood-%06d", i);
    upnp_control_add_device(nowhere.c_str(), udn, kIf, 1800, 2);
    int occupied = 0;
    for (int k = 0; k < 30; ++k) occupied += upnp_control_get_device_state(k, 2) != (int)UPNP_CP_STATE_FREE ? 1 : 0;
    if (occupied > occupied_max) occupied_max = occupied;
  }
  EXPECT_EQ(upnp_control_get_device_state(30, 2), -1) << "the table never grows";
  EXPECT_LE(occupied_max, 30);
  EXPECT_EQ(index_of("uuid:known-000020", 2), ia);
  EXPECT_EQ(index_of("uuid:known-000021", 2), ib);
  EXPECT_TRUE(ready("uuid:known-000020", 2));
  EXPECT_EQ(name_of(ib, 2), "Known B");
  // Every flooded device fails to load and leaves its slot free again.
  ASSERT_TRUE(wait_until([&] {
    for (int k = 0; k < 30; ++k)
      if (k != ia && k != ib && upnp_control_get_device_state(k, 2) != (int)UPNP_CP_STATE_FREE) return false;
    return true;
  }, 20000));
  EXPECT_EQ(upnp_control_get_next_renderer_index(-1), std::min(ia, ib));
}

TEST_F(TableTest, ReturningDeviceGetsItsOldIndex) {
  std::string a = serve_device("uuid:first-000007", 1, "First");
  std::string b = serve_device("uuid:second-000008", 1, "Second");
  upnp_control_add_device(a.c_str(), "uuid:first-000007", kIf, 1800, 1);
  upnp_control_add_device(b.c_str(), "uuid:second-000008", kIf, 1800, 1);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:first-000007", 1) && ready("uuid:second-000008", 1); }, 5000));
  int ia = index_of("uuid:first-000007", 1);
  int ib = index_of("uuid:second-000008", 1);
  wait_until([] { return false; }, 1050);
  EXPECT_EQ(upnp_control_delete_device("uuid:first-000007", 1), 1);
  EXPECT_EQ(index_of("uuid:first-000007", 1), -1);
  ASSERT_TRUE(wait_until([&] { return count_events(1, 1, ia) == 1; }, 2000));
  std::string c = serve_device("uuid:third-000009", 1, "Third");
  upnp_control_add_device(c.c_str(), "uuid:third-000009", kIf, 1800, 1);
  upnp_control_add_device(a.c_str(), "uuid:first-000007", kIf, 1800, 1);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:first-000007", 1) && ready("uuid:third-000009", 1); }, 5000));
  EXPECT_EQ(index_of("uuid:first-000007", 1), ia);
  EXPECT_EQ(index_of("uuid:second-000008", 1), ib);
  EXPECT_NE(index_of("uuid:third-000009", 1), ia);
  EXPECT_EQ(name_of(ib, 1), "Second");
}

TEST_F(TableTest, IncompleteDescriptionsNeverShowUp) {
  LogFile log;
  std::string r = serve_device("uuid:norc-000010", 2, "No RC", {"CM", "AVT"});
  std::string s = serve_device("uuid:nocds-000011", 1, "No CDS", {"CM"});
  upnp_control_add_device(r.c_str(), "uuid:norc-000010", kIf, 1800, 2);
  upnp_control_add_device(s.c_str(), "uuid:nocds-000011", kIf, 1800, 1);
  upnp_control_add_device(server_.url("/missing.xml").c_str(), "uuid:missing-000012", kIf, 1800, 2);
  ASSERT_TRUE(wait_until([&] {
    return log.count("Renderer uuid:norc-000010 has no RenderingControl service") == 1 &&
           log.count("Server uuid:nocds-000011 has no ContentDirectory service") == 1 &&
           log.count("Cannot get device description for uuid:missing-000012") == 1;
  }, 8000));
  wait_until([] { return false; }, 100);
  EXPECT_EQ(upnp_control_get_next_renderer_index(-1), -1);
  EXPECT_EQ(upnp_control_get_next_server_index(-1), -1);
  EXPECT_EQ(index_of("uuid:norc-000010", 2), -1);
  EXPECT_TRUE(events().empty());
}

TEST_F(TableTest, ServerWithoutUpdateObjectHasNoPlaylistCapability) {
  std::string s = serve_device("uuid:plain-000013", 1, "Plain");
  server_.put("/000013/CDS.xml", cp_test::scpd({"Browse", "CreateObject", "CreateReference", "DestroyObject"}));
  upnp_control_add_device(s.c_str(), "uuid:plain-000013", kIf, 1800, 1);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:plain-000013", 1); }, 5000));
  EXPECT_EQ(has_playlist_capability(index_of("uuid:plain-000013", 1)), 0);
}

TEST_F(TableTest, OversizedAndOverDeepDescriptionsMakeTheDeviceUnusable) {
  LogFile log;
  std::string big = cp_test::description("uuid:big-000014", "urn:schemas-upnp-org:device:MediaRenderer:1", "Big",
                                         {"CM", "RC", "AVT"}, "<pad>" + std::string(UPNP_CP_MAX_DESCRIPTION_SIZE, 'x') + "</pad>");
  server_.put("/big.xml", big);
  std::string deep = "<root><device><UDN>uuid:deep-000015</UDN>";
  for (int i = 0; i < 150; ++i) deep += "<a>";
  for (int i = 0; i < 150; ++i) deep += "</a>";
  deep += "</device></root>";
  server_.put("/deep.xml", deep);
  upnp_control_add_device(server_.url("/big.xml").c_str(), "uuid:big-000014", kIf, 1800, 2);
  upnp_control_add_device(server_.url("/deep.xml").c_str(), "uuid:deep-000015", kIf, 1800, 2);
  ASSERT_TRUE(wait_until([&] {
    return log.count("too large") >= 1 && log.count("Cannot parse device description of uuid:deep-000015") == 1 &&
           index_of("uuid:big-000014", 2) == -1 && index_of("uuid:deep-000015", 2) == -1;
  }, 8000));
  EXPECT_EQ(upnp_control_get_next_renderer_index(-1), -1);
}

TEST_F(TableTest, MalformedLocationsAreRefused) {
  const char *bad[] = {"http://127.0.0.1:99999/d.xml", "http://127.0.0.1:/d.xml", "http://:80/d.xml",
                       "http://127.0.0.1:80x/d.xml", "http://bad host/d.xml", "ftp://127.0.0.1/d.xml", "http://127.0.0.1:0/"};
  for (const char *location : bad) {
    upnp_control_add_device(location, "uuid:bad-000016", kIf, 1800, 2);
    EXPECT_EQ(index_of("uuid:bad-000016", 2), -1) << location;
  }
  upnp_control_add_device(nullptr, "uuid:bad-000016", kIf, 1800, 2);
  upnp_control_add_device("http://127.0.0.1/d.xml", "uuid:bad-000016", nullptr, 1800, 2);
  upnp_control_add_device("http://127.0.0.1/d.xml", "uuid:bad-000016", kIf, 1800, 4);
  EXPECT_EQ(index_of("uuid:bad-000016", 2), -1);
}

TEST_F(TableTest, ExpiredDeviceIsVerifiedThenRemoved) {
  upnp_ini_file_setPropertyByKey(INI_REVALIDATE_TIME, "2");
  std::string r = serve_device("uuid:expire-000017", 2, "Expiring");
  upnp_control_add_device(r.c_str(), "uuid:expire-000017", kIf, 1, 2);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:expire-000017", 2); }, 5000));
  int index = index_of("uuid:expire-000017", 2);
  ASSERT_TRUE(wait_until([&] { return count_events(0, 2, index) == 1; }, 2000));
  // Expiry of a ready device invalidates it; the verifier reaches the
  // server and makes it ready again.
  validateDevices(upnp_cp_now() + 5, 2);
  EXPECT_EQ(upnp_control_get_device_state(index, 2), (int)UPNP_CP_STATE_INVALIDATED);
  EXPECT_EQ(upnp_control_get_next_renderer_index(-1), -1);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:expire-000017", 2); }, 3000));
  // Expiry in state 4 deletes it.
  validateDevices(upnp_cp_now() + 10, 2);
  ASSERT_EQ(upnp_control_get_device_state(index, 2), (int)UPNP_CP_STATE_INVALIDATED);
  validateDevices(upnp_cp_now() + 20, 2);
  EXPECT_EQ(upnp_control_get_device_state(index, 2), (int)UPNP_CP_STATE_FREE);
  ASSERT_TRUE(wait_until([&] { return count_events(1, 2, index) == 1; }, 2000));
}

TEST_F(TableTest, RenewedDeviceThatCannotBeReachedIsRemoved) {
  int index = -1;
  {
    cp_test::FileServer gone;
    std::string tail = "000018";
    gone.put("/" + tail + "/desc.xml", cp_test::description("uuid:renew-000018", "urn:schemas-upnp-org:device:MediaServer:1",
                                                            "Renewed", {"CM", "CDS"}));
    gone.put("/" + tail + "/CDS.xml", cp_test::scpd({"Browse"}));
    upnp_control_add_device(gone.url("/000018/desc.xml").c_str(), "uuid:renew-000018", kIf, 1800, 1);
    ASSERT_TRUE(wait_until([&] { return ready("uuid:renew-000018", 1); }, 5000));
    index = index_of("uuid:renew-000018", 1);
  }
  EXPECT_GT(upnp_cp_renew_device_lists(0), 0u);
  EXPECT_EQ(upnp_control_get_device_state(index, 1), (int)UPNP_CP_STATE_REVALIDATING);
  EXPECT_EQ(upnp_control_get_next_server_index(-1), index) << "still usable while revalidating";
  validateDevices(upnp_cp_now() + 100, 1);
  ASSERT_TRUE(wait_until([&] { return upnp_control_get_device_state(index, 1) == (int)UPNP_CP_STATE_FREE; }, 3000));
}

TEST_F(TableTest, RendererQuirksFollowTheModel) {
  std::string extra = "<modelDescription>TOSHIBA LCDTV</modelDescription><UPC>00000-00001</UPC>";
  std::string r = serve_device("uuid:frame-000019", 2, "Frame", {}, 0, extra);
  std::string desc = cp_test::description("uuid:frame-000019", "urn:schemas-upnp-org:device:MediaRenderer:1", "Frame",
                                          {"CM", "RC", "AVT"}, extra);
  size_t at = desc.find("<modelName>Crafted</modelName>");
  desc.replace(at, std::strlen("<modelName>Crafted</modelName>"), "<modelName>Ubicom Digital Photo Frame</modelName>");
  server_.put("/000019/desc.xml", desc);
  upnp_control_add_device(r.c_str(), "uuid:frame-000019", kIf, 1800, 2);
  ASSERT_TRUE(wait_until([&] { return ready("uuid:frame-000019", 2); }, 5000));
  int index = index_of("uuid:frame-000019", 2);
  EXPECT_EQ(upnp_cp_get_broken_actions(index, 2), 3u);
  unsigned int w = 0, h = 0;
  EXPECT_EQ(upnp_cp_get_renderer_resolution(index, &w, &h), 0);
  EXPECT_EQ(w, 800u);
  EXPECT_EQ(h, 480u);
  EXPECT_EQ(upnp_cp_is_polled(index, 2), 0);
}

std::vector<std::pair<int, int>> g_deletes;  // (kind, found) of each delete seen
std::mutex g_deletes_mutex;

void observe_deletes(int added, const char *, const char *, const char *, unsigned int, int kind, int found) {
  if (added) return;
  std::lock_guard<std::mutex> hold(g_deletes_mutex);
  g_deletes.push_back({kind, found});
}

TEST_F(TableTest, SsdpByebyeStopsAtTheKindTheTableKnows) {
  upnp_interface_entry entry;
  std::strcpy(entry.address, "127.0.0.1");
  entry.http_port = 9000;
  std::string location = serve_device("uuid:ssdp-000022", 1, "Announced");
  const std::string type = "urn:schemas-upnp-org:device:MediaServer:1";
  const std::string usn = "uuid:ssdp-000022::" + type;
  auto notify = [&](const char *nts) {
    std::string text = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: " +
                       location + "\r\nSERVER: Linux/6.1 UPnP/1.0 Lab/1.0\r\nNT: " + type + "\r\nUSN: " + usn +
                       "\r\nNTS: " + nts + "\r\n\r\n";
    SSDP_cp_handler(text.c_str(), &entry, "127.0.0.1", 1900);
  };
  notify("ssdp:alive");
  ASSERT_TRUE(wait_until([&] { return ready("uuid:ssdp-000022", 1); }, 5000));
  wait_until([] { return false; }, 1050);
  upnp_cp_set_call_observer(observe_deletes);
  notify("ssdp:byebye");
  upnp_cp_set_call_observer(nullptr);
  std::lock_guard<std::mutex> hold(g_deletes_mutex);
  ASSERT_EQ(g_deletes.size(), 2u) << "renderer (unknown), then server (known); never the remote-UI table";
  EXPECT_EQ(g_deletes[0], std::make_pair(2, 0));
  EXPECT_EQ(g_deletes[1], std::make_pair(1, 1));
  EXPECT_EQ(index_of("uuid:ssdp-000022", 1), -1);
}

}  // namespace
