// The protocol information of a device: asked of the device on the first
// query, without the control-point lock, and cached only in the entry that
// was asked. Devices are crafted descriptions on 127.0.0.1 whose
// ConnectionManager control URL points at a SOAP server of the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "cp_test_util.h"
#include "soap_test_util.h"

using cp_test::CpTest;

namespace {

const char kSink[] = "http-get:*:audio/mpeg:*,http-get:*:audio/x-flac:*";  // no extra sink entries apply
const char kSource[] = "http-get:*:video/mp4:*";

std::string answer(const char *sink, const char *source) {
  return SoapServer::ok(std::string("<u:GetProtocolInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:"
                                    "ConnectionManager:1\"><Source>") +
                        source + "</Source><Sink>" + sink + "</Sink></u:GetProtocolInfoResponse>");
}

// Holds answers back until released, so that the test can change the table
// while a request is outstanding.
class Gate {
 public:
  void arrive() {
    std::unique_lock<std::mutex> hold(mutex_);
    ++arrived_;
    cv_.notify_all();
    cv_.wait_for(hold, std::chrono::seconds(10), [this] { return open_; });
  }
  bool wait_arrived(int n) {
    std::unique_lock<std::mutex> hold(mutex_);
    return cv_.wait_for(hold, std::chrono::seconds(10), [&] { return arrived_ >= n; });
  }
  void open() {
    std::lock_guard<std::mutex> hold(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void close() {
    std::lock_guard<std::mutex> hold(mutex_);
    open_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int arrived_ = 0;
  bool open_ = true;
};

class ProtocolInfoTest : public CpTest {
 protected:
  ProtocolInfoTest()
      : soap_([this](const SoapRequest &) {
          gate_.arrive();
          if (fault_) return SoapServer::fault(501, "Action Failed");
          return answer(kSink, kSource);
        }) {}
  void SetUp() override {
    CpTest::SetUp();
    ASSERT_EQ(upnp_cp_start(0, 0), 0);
    upnp_control_register_callback(&CpTest::callback);
  }
  void TearDown() override {
    gate_.open();
    CpTest::TearDown();
  }
  // Serves a device of kind whose ConnectionManager is the test's SOAP
  // server; path tells descriptions of the same UDN apart.
  std::string serve(const std::string &udn, int kind, const std::string &path) {
    std::string location = serve_device(udn, kind, "Crafted " + path);
    std::string tail = udn.substr(udn.size() - 6);
    std::string text = cp_test::description(
        udn, kind == 1 ? "urn:schemas-upnp-org:device:MediaServer:1" : "urn:schemas-upnp-org:device:MediaRenderer:1",
        "Crafted " + path, kind == 1 ? std::vector<std::string>{"CM", "CDS"} : std::vector<std::string>{"CM", "RC", "AVT"});
    std::string relative = "<controlURL>/" + tail + "/CM/control</controlURL>";
    text.replace(text.find(relative), relative.size(), "<controlURL>" + soap_.base() + "/cm/control</controlURL>");
    server_.put("/" + tail + "/" + path, text);
    return server_.url("/" + tail + "/" + path);
  }
  int requests() { return static_cast<int>(soap_.requests().size()); }

  Gate gate_;
  std::atomic<bool> fault_{false};
  SoapServer soap_;
};

TEST_F(ProtocolInfoTest, FirstQueryAsksTheRendererLaterOnesAreAnsweredFromTheCache) {
  int r = add_ready("uuid:renderer-00a001", 2, serve("uuid:renderer-00a001", 2, "one.xml"));
  ASSERT_GE(r, 0);
  char *info = nullptr;
  ASSERT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 0);
  EXPECT_STREQ(info, kSink);  // a renderer answers with its sink list
  upnp_free_impl(info);
  ASSERT_EQ(requests(), 1);
  EXPECT_NE(soap_.requests()[0].soap_action.find("ConnectionManager:1#GetProtocolInfo"), std::string::npos);
  info = nullptr;
  ASSERT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 0);
  EXPECT_STREQ(info, kSink);
  upnp_free_impl(info);
  EXPECT_TRUE(upnp_cp_device_supports_types(r, 2, "audio/x-flac video/mp4", 0));
  EXPECT_FALSE(upnp_cp_device_supports_types(r, 2, "audio/x-flac video/mp4", 1));
  EXPECT_EQ(requests(), 1);
}

TEST_F(ProtocolInfoTest, ServerAnswersWithItsSourceList) {
  int s = add_ready("uuid:server-00a002", 1, serve("uuid:server-00a002", 1, "one.xml"));
  ASSERT_GE(s, 0);
  char *info = nullptr;
  ASSERT_EQ(upnp_get_ProtocolInfo(s, 1, &info), 0);
  EXPECT_STREQ(info, kSource);
  upnp_free_impl(info);
  ASSERT_EQ(upnp_get_ProtocolInfo(s, 1, &info), 0);
  upnp_free_impl(info);
  EXPECT_EQ(requests(), 1);
}

TEST_F(ProtocolInfoTest, AFailedRequestIsNotCachedAndIsAskedAgain) {
  int r = add_ready("uuid:renderer-00a003", 2, serve("uuid:renderer-00a003", 2, "one.xml"));
  ASSERT_GE(r, 0);
  fault_ = true;
  char *info = nullptr;
  EXPECT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 501);
  EXPECT_EQ(info, nullptr);
  fault_ = false;
  ASSERT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 0);
  EXPECT_STREQ(info, kSink);
  upnp_free_impl(info);
  EXPECT_EQ(requests(), 2);
}

TEST_F(ProtocolInfoTest, RefusalsLeaveTheOutputEmpty) {
  char *info = reinterpret_cast<char *>(1);
  EXPECT_EQ(upnp_get_ProtocolInfo(0, 3, &info), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(upnp_get_ProtocolInfo(0, 2, &info), UPNP_CP_DEVICE_GONE);  // empty slot
  EXPECT_EQ(upnp_get_ProtocolInfo(99, 2, &info), UPNP_CP_INVALID_INDEX);
  EXPECT_EQ(upnp_get_ProtocolInfo(0, 2, nullptr), UPNP_CP_INVALID_PARAMETER);
  // No list at all: every type test fails.
  EXPECT_FALSE(upnp_cp_device_supports_types(0, 2, "audio/mpeg", 0));
  EXPECT_EQ(requests(), 0);
}

// The lock is not held during the request: queries of the table go on while
// the device keeps its answer back.
TEST_F(ProtocolInfoTest, TheTableStaysAvailableWhileTheDeviceIsAsked) {
  int r = add_ready("uuid:renderer-00a004", 2, serve("uuid:renderer-00a004", 2, "one.xml"));
  ASSERT_GE(r, 0);
  gate_.close();
  std::thread asker([&] {
    char *info = nullptr;
    EXPECT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 0);
    upnp_free_impl(info);
  });
  ASSERT_TRUE(gate_.wait_arrived(1));
  auto start = std::chrono::steady_clock::now();
  char name[80];
  EXPECT_EQ(upnp_control_get_device_name(r, name, sizeof name, 2), 0);
  EXPECT_EQ(upnp_control_get_next_renderer_index(-1), r);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  gate_.open();
  asker.join();
}

// The device goes away (byebye) and comes back from another location while
// its first answer is outstanding: the answer goes to the caller but is not
// cached in the new entry, which asks its own device.
TEST_F(ProtocolInfoTest, AnEntryReplacedDuringTheRequestDoesNotGetTheStaleAnswer) {
  const std::string udn = "uuid:renderer-00a005";
  int r = add_ready(udn, 2, serve(udn, 2, "old.xml"));
  ASSERT_GE(r, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a byebye right after an alive is ignored
  gate_.close();
  int first_rc = -1;
  std::string first;
  std::thread asker([&] {
    char *info = nullptr;
    first_rc = upnp_get_ProtocolInfo(r, 2, &info);
    if (info != nullptr) first = info;
    upnp_free_impl(info);
  });
  ASSERT_TRUE(gate_.wait_arrived(1));
  ASSERT_EQ(upnp_control_delete_device(udn.c_str(), 2), 1);
  ASSERT_EQ(upnp_control_get_device_state(r, 2), UPNP_CP_STATE_FREE);
  ASSERT_EQ(add_ready(udn, 2, serve(udn, 2, "new.xml")), r);  // same slot, new location and kind record
  gate_.open();
  asker.join();
  EXPECT_EQ(first_rc, 0);
  EXPECT_EQ(first, kSink);
  ASSERT_EQ(requests(), 1);
  char *info = nullptr;
  ASSERT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 0);
  upnp_free_impl(info);
  EXPECT_EQ(requests(), 2);  // the new entry had nothing cached
  ASSERT_EQ(upnp_get_ProtocolInfo(r, 2, &info), 0);
  upnp_free_impl(info);
  EXPECT_EQ(requests(), 2);  // and caches its own answer
}

// The entry is deleted while the request is outstanding: nothing is written
// into the freed record (ASan watches) and the caller still gets its answer.
TEST_F(ProtocolInfoTest, AnEntryRemovedDuringTheRequestIsLeftAlone) {
  const std::string udn = "uuid:renderer-00a006";
  int r = add_ready(udn, 2, serve(udn, 2, "one.xml"));
  ASSERT_GE(r, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  gate_.close();
  int rc = -1;
  std::thread asker([&] {
    char *info = nullptr;
    rc = upnp_get_ProtocolInfo(r, 2, &info);
    upnp_free_impl(info);
  });
  ASSERT_TRUE(gate_.wait_arrived(1));
  ASSERT_EQ(upnp_control_delete_device(udn.c_str(), 2), 1);
  gate_.open();
  asker.join();
  EXPECT_EQ(rc, 0);
  char *info = nullptr;
  EXPECT_EQ(upnp_get_ProtocolInfo(r, 2, &info), UPNP_CP_DEVICE_GONE);
  EXPECT_EQ(info, nullptr);
}

}  // namespace
