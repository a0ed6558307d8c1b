// The device table against the lab's real peers (run through
// tests/lab/lab.sh run): discovery of every server and renderer, byebye and
// return with the old index, crafted devices from the lab's file server, and
// a device that vanishes without byebye being removed by revalidation.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <cstring>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp_lab_util.h"
#include "cp_test_util.h"

using cp_lab::env;
using cp_lab::lab;
using cp_test::CpTest;
using cp_test::wait_until;
using Peer = cp_lab::Peer;

namespace {

// One control point for the whole run: each test starts from the devices the
// earlier ones left (all peers up).
class LabTest : public CpTest {
 protected:
  static void SetUpTestSuite() {
    if (!cp_lab::inside_lab()) return;
    cp_lab::init_settings();
    cp_lab::init_log(LOG_LEVEL_INFO);  // CP_LAB_LOG=FILE keeps the library's log of the run
    s_started = cp_lab::start_control_point("9000");
    upnp_control_register_callback(&CpTest::callback);
  }
  static void TearDownTestSuite() {
    if (!s_started) return;
    upnp_control_exit();
    upnp_ini_file_release_on_exit();
  }
  void SetUp() override {
    if (!cp_lab::inside_lab()) GTEST_SKIP() << "not inside the lab";
    ASSERT_TRUE(s_started);
    std::lock_guard<std::mutex> hold(s_mutex);
    s_events.clear();
  }
  void TearDown() override { upnp_ini_file_setPropertyByKey(INI_REVALIDATE_TIME, "15"); }
  // A complete renderer on `server`; its location.
  std::string serve_on(cp_test::FileServer &server) {
    std::string type = "urn:schemas-upnp-org:device:MediaRenderer:1";
    server.put("/gone01/desc.xml", cp_test::description("uuid:cp-lab-gone01", type, "Gone", {"CM", "RC", "AVT"}));
    return server.url("/gone01/desc.xml");
  }
  static bool s_started;
  static std::string s_watched;
  static std::atomic<std::chrono::steady_clock::rep> s_last_alive;
  static void observe(int added, const char *, const char *udn, const char *, unsigned int, int, int) {
    if (added && udn != nullptr && s_watched == udn) s_last_alive = std::chrono::steady_clock::now().time_since_epoch().count();
  }
  static std::chrono::steady_clock::time_point last_alive() {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(s_last_alive.load()));
  }
  bool usable(const std::string &udn, int kind) {
    int index = index_of(udn, kind);
    return index >= 0 && upnp_cp_isValidIndex(index, kind);
  }
  bool all_usable(const std::vector<Peer> &peers) {
    for (const Peer &p : peers)
      if (!usable(p.udn, p.kind)) return false;
    return true;
  }
};

bool LabTest::s_started = false;
std::string LabTest::s_watched;
std::atomic<std::chrono::steady_clock::rep> LabTest::s_last_alive{0};

TEST_F(LabTest, EveryPeerIsAddedWithKindNameUdnUrlBaseAndServices) {
  std::vector<Peer> peers = cp_lab::peers();
  ASSERT_GE(peers.size(), 2u);
  ASSERT_TRUE(wait_until([&] { return all_usable(peers); }, 15000));
  for (const Peer &p : peers) {
    int index = index_of(p.udn, p.kind);
    char name[80], udn[128], base[256];
    ASSERT_EQ(upnp_control_get_device_info(index, name, sizeof name, udn, sizeof udn, p.kind), 0);
    EXPECT_EQ(p.name, name);
    EXPECT_EQ(p.udn, udn);
    ASSERT_EQ(upnp_control_get_urlbase(index, base, sizeof base, p.kind), 0);
    EXPECT_EQ(p.desc.compare(0, std::strlen(base) + 1, std::string(base) + "/"), 0) << base << " for " << p.desc;
    unsigned want = p.kind == 1 ? (UPNP_CP_SERVICE_CM | UPNP_CP_SERVICE_CDS)
                                : (UPNP_CP_SERVICE_CM | UPNP_CP_SERVICE_RC | UPNP_CP_SERVICE_AVT);
    EXPECT_EQ(upnp_control_get_device_services(index, p.kind), want) << p.name;
    EXPECT_FALSE(upnp_cp_is_local_device(index, p.kind));
  }
  ASSERT_TRUE(wait_until([&] { return events().size() == peers.size(); }, 2000));
  for (const cp_test::Event &e : events()) EXPECT_EQ(e.type, 0);
}

TEST_F(LabTest, StoppedRendererIsRemovedAndComesBackAtItsIndex) {
  std::string udn = env("LAB_RENDERER1_UDN");
  ASSERT_TRUE(wait_until([&] { return usable(udn, 2); }, 15000));
  int index = index_of(udn, 2);
  // A byebye within a second of an alive (or search response) is not taken
  // at once (the renderer is asked again): stop the renderer once it has been
  // quiet for 2 s (a freshly started peer repeats its announcements for a
  // while).
  s_watched = udn;
  s_last_alive = std::chrono::steady_clock::now().time_since_epoch().count();
  upnp_cp_set_call_observer(&LabTest::observe);
  ASSERT_TRUE(wait_until([&] { return std::chrono::steady_clock::now() - last_alive() > std::chrono::seconds(2); }, 60000));
  ASSERT_EQ(lab("stop renderer1"), 0);
  upnp_cp_set_call_observer(nullptr);
  ASSERT_TRUE(wait_until([&] { return count_events(1, 2, index) == 1; }, 5000));
  EXPECT_FALSE(usable(udn, 2));
  ASSERT_EQ(lab("start renderer1"), 0);
  ASSERT_TRUE(wait_until([&] { return usable(udn, 2); }, 15000));
  EXPECT_EQ(index_of(udn, 2), index);
  ASSERT_TRUE(wait_until([&] { return count_events(0, 2, index) == 1; }, 2000));
}

TEST_F(LabTest, CraftedRendererWithoutAServiceIsNeverAdded) {
  std::string www = env("LAB_WWW") + "/desc/";
  std::string type = "urn:schemas-upnp-org:device:MediaRenderer:1";
  std::ofstream(www + "cp-noavt.xml") << cp_test::description("uuid:cp-lab-noavt1", type, "No AVT", {"CM", "RC"});
  std::ofstream(www + "cp-full.xml") << cp_test::description("uuid:cp-lab-full01", type, "Full", {"CM", "RC", "AVT"});
  std::string interface = env("LAB_ADDR") + ":9000";
  upnp_control_add_device((env("LAB_HTTP_URL") + "desc/cp-noavt.xml").c_str(), "uuid:cp-lab-noavt1",
                          interface.c_str(), 1800, 2);
  upnp_control_add_device((env("LAB_HTTP_URL") + "desc/cp-full.xml").c_str(), "uuid:cp-lab-full01",
                          interface.c_str(), 1800, 2);
  ASSERT_TRUE(wait_until([&] { return usable("uuid:cp-lab-full01", 2); }, 5000));
  wait_until([] { return false; }, 500);
  EXPECT_EQ(index_of("uuid:cp-lab-noavt1", 2), -1);
  for (const cp_test::Event &e : events()) EXPECT_NE(e.name, "No AVT");
}

TEST_F(LabTest, DeviceGoneWithoutByebyeIsRemovedByRevalidation) {
  upnp_ini_file_setPropertyByKey(INI_REVALIDATE_TIME, "2");
  std::vector<Peer> peers = cp_lab::peers();
  ASSERT_TRUE(wait_until([&] { return all_usable(peers); }, 15000));
  int index = -1;
  std::string loopback;
  {
    // A device on this side's own address: fetched through 127.0.0.1.
    cp_test::FileServer own("0.0.0.0");
    own.address_ = env("LAB_ADDR");
    std::string location = serve_on(own);
    upnp_control_add_device(location.c_str(), "uuid:cp-lab-gone01", (env("LAB_ADDR") + ":9000").c_str(), 1800, 2);
    ASSERT_TRUE(wait_until([&] { return usable("uuid:cp-lab-gone01", 2); }, 5000));
    index = index_of("uuid:cp-lab-gone01", 2);
    EXPECT_TRUE(upnp_cp_is_local_device(index, 2));
    char stored[256];
    ASSERT_EQ(upnp_control_get_location(index, stored, sizeof stored, 2), 0);
    EXPECT_EQ(std::string(stored).find("http://127.0.0.1:"), 0u) << stored;
    ASSERT_TRUE(wait_until([&] { return count_events(0, 2, index) == 1; }, 2000));
  }  // the server ends without byebye
  uint64_t started = upnp_cp_now();
  EXPECT_GT(upnp_cp_renew_device_lists(0), 0u);
  ASSERT_TRUE(wait_until([&] { return count_events(1, 2, index) == 1; }, 8000));
  EXPECT_LE(upnp_cp_now() - started, 5u) << "revalidation time 2 s plus the scheduler's tick";
  EXPECT_EQ(index_of("uuid:cp-lab-gone01", 2), -1);
  ASSERT_TRUE(wait_until([&] { return all_usable(peers); }, 5000)) << "real peers answer and stay";
  for (const Peer &p : peers) EXPECT_EQ(count_events(1, p.kind, index_of(p.udn, p.kind)), 0) << p.name;
}

}  // namespace
