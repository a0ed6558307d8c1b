// Uploads into a crafted ContentDirectory on 127.0.0.1 (CreateObject with an
// import address) and crafted POST sinks: the set-up's answers, the header
// lines, plain and chunked bodies, the final answers, the final callback
// (exactly once), the cap on running uploads and the controller's stop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_dms_server.h"
#include "nmc_test_util.h"
#include "playlist/lm_dmscp_upload.h"
#include "playlist/lm_dmscp_upload_internal.h"
#include "support_wait.h"
#include "upload_sink.h"

namespace {

using nmc_test::CdsServer;
using test_support::wait_until;
using upload_test::Sink;
using upload_test::SinkMode;

const char *const kUdn = "uuid:upload-server-1";
const char *const kMp3 = "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3";

// The application's side: hands out data in blocks, records every call.
struct Feed {
  std::string data;
  uint32_t first_length = 0;  // reported at the first call instead (abort, too much)
  bool gate_closed = false;   // the first call waits until the gate opens
  std::mutex mutex;
  std::condition_variable cv;
  size_t pos = 0;
  std::vector<uint32_t> sizes;
  std::vector<uint32_t> finals;

  static int callback(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
    Feed &f = *static_cast<Feed *>(*user);
    std::unique_lock<std::mutex> hold(f.mutex);
    if (buffer == nullptr) {
      f.finals.push_back(size);
      f.cv.notify_all();
      return 0;
    }
    f.cv.wait(hold, [&f] { return !f.gate_closed; });
    f.sizes.push_back(size);
    if (f.first_length != 0 && f.sizes.size() == 1) {
      *length = f.first_length;
      return 1;
    }
    size_t n = std::min<size_t>(size, f.data.size() - f.pos);
    f.data.copy(buffer, n, f.pos);
    f.pos += n;
    *length = static_cast<uint32_t>(n);
    return f.pos < f.data.size() ? 1 : 0;
  }
  void open_gate() {
    std::lock_guard<std::mutex> hold(mutex);
    gate_closed = false;
    cv.notify_all();
  }
  // The final result once it came; it must come exactly once.
  uint32_t final_result(int ms = 20000) {
    std::unique_lock<std::mutex> hold(mutex);
    EXPECT_TRUE(cv.wait_for(hold, std::chrono::milliseconds(ms), [this] { return !finals.empty(); }));
    if (finals.empty()) return 0xDEAD;
    return finals[0];
  }
  size_t final_count() {
    std::lock_guard<std::mutex> hold(mutex);
    return finals.size();
  }
};

std::string patterned(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

class UploadTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    nmc_notifiers_set_start_delay(0);
    ASSERT_EQ(start(), 1);
    server_ = std::make_unique<CdsServer>(kUdn, "Upload Server");
    server_->reply = [this](const nmc_test::CdsCall &call) -> std::string {
      if (call.action != "CreateObject") return std::string();
      std::lock_guard<std::mutex> hold(mutex_);
      if (fault_ != 0) return CdsServer::soap_fault(fault_);
      std::string res = "<res protocolInfo=\"" + CdsServer::escape(call.args.at("Elements").find("wpl") !=
                                                                                std::string::npos
                                                                            ? "*:*:application/vnd.ms-wpl:*"
                                                                            : kMp3) + "\"";
      if (!import_.empty()) res += " importUri=\"" + CdsServer::escape(import_) + "\"";
      res += "></res>";
      std::string didl =
          "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
          "<item id=\"new,1\" parentID=\"up\" restricted=\"0\"><dc:title>x</dc:title>"
          "<upnp:class>object.item.audioItem.musicTrack</upnp:class>" + res + "</item></DIDL-Lite>";
      return CdsServer::soap_ok(
          "<u:CreateObjectResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ObjectID>new,1"
          "</ObjectID><Result>" + CdsServer::escape(didl) + "</Result></u:CreateObjectResponse>");
    };
    upnp_control_add_device(server_->description_url().c_str(), kUdn, "127.0.0.1:9000", 1800, 1);
    ASSERT_TRUE(wait_until([] { return nmc_devices_find_udn(NMC_SIDE_SERVER, kUdn, nullptr); }, 5000));
  }
  void TearDown() override {
    EXPECT_TRUE(wait_until([] { return nmc_uploads_running() == 0; }, 15000));
    NmcTest::TearDown();
    server_.reset();
  }
  void set_import(const std::string &url, int fault = 0) {
    std::lock_guard<std::mutex> hold(mutex_);
    import_ = url;
    fault_ = fault;
  }
  size_t creates() { return server_->calls_of("CreateObject").size(); }
  lm_nmc_result_t upload(Feed &feed, uint64_t length, uint32_t block = 0, const char *pi = kMp3,
                         const char *title = "Rock & Roll <Live> Caf\xC3\xA9", char *bookmark = nullptr,
                         uint32_t bookmark_size = 0) {
    return lm_dmscp_upload(0, &feed, title, pi, block, Feed::callback, bookmark_size, bookmark, length);
  }

  std::unique_ptr<CdsServer> server_;
  std::mutex mutex_;
  std::string import_;
  int fault_ = 0;
};

TEST_F(UploadTest, ArgumentsAndSetUpFailuresAnswerWithoutCallback) {
  Sink sink(SinkMode::refuse_417);
  Feed feed;
  char bookmark[64] = "old";
  struct Case {
    const char *name;
    std::function<lm_nmc_result_t()> call;
    lm_nmc_result_t expected;
    bool request_made;
  };
  // Refused before any request: the arguments.
  auto refused = [&](const char *pi, const char *title) -> std::function<lm_nmc_result_t()> {
    return [&, pi, title] { return upload(feed, 0, 0, pi, title, bookmark, sizeof bookmark); };
  };
  // After the CreateObject request: the server's answer or the sink's.
  auto created = [&](const std::string &url, int fault, uint32_t size) -> std::function<lm_nmc_result_t()> {
    return [&, url, fault, size] {
      set_import(url, fault);
      return upload(feed, 0, 0, kMp3, "t", bookmark, size);
    };
  };
  const uint32_t whole = sizeof bookmark;
  const std::vector<Case> cases = {
      {"text/plain", refused("http-get:*:text/plain:*", "t"), 2, false},
      {"no title", refused(kMp3, ""), 2, false},
      {"no callback",
       [&] { return lm_dmscp_upload(0, &feed, "t", kMp3, 0, nullptr, sizeof bookmark, bookmark, 0); }, 2, false},
      {"no MIME type", refused("http-get:*", "t"), 2, false},
      {"DTCP", refused("http-get:*:application/x-dtcp1;CONTENTFORMAT=audio/mpeg:*", "t"), 13, false},
      {"unknown context",
       [&] { return lm_dmscp_upload(77, &feed, "t", kMp3, 0, Feed::callback, sizeof bookmark, bookmark, 0); }, 1,
       false},
      {"playlist format",
       [&] { return lm_dmscp_upload_playlist(0, &feed, "p", 1, 1, 0, Feed::callback, sizeof bookmark, bookmark); },
       2, false},
      {"playlist type",
       [&] { return lm_dmscp_upload_playlist(0, &feed, "p", 3, 0, 0, Feed::callback, sizeof bookmark, bookmark); },
       2, false},
      {"server fault 401", created(sink.url(), 401, whole), 401, true},
      {"no importUri", created("", 0, whole), 7, true},
      {"bookmark buffer too small", created(sink.url(), 0, 8), 10, true},
      {"no connection", created("http://127.0.0.1:1/none", 0, whole), 400, true},
      {"417 to the header", created(sink.url(), 0, whole), 417, true},
  };
  for (const Case &c : cases) {
    std::strcpy(bookmark, "old");
    size_t before = creates();
    EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(creates() - before, c.request_made ? 1u : 0u) << c.name;
    EXPECT_STREQ(bookmark, "") << c.name;
  }
  Sleep(200);
  EXPECT_EQ(feed.final_count(), 0u);
  EXPECT_EQ(nmc_uploads_running(), 0u);
}

TEST_F(UploadTest, SinkAnswersEndWithTheirResultsOnce) {
  struct Case {
    SinkMode mode;
    uint64_t length;  // announced
    size_t size;      // delivered
    uint32_t expected;
    bool body_whole;  // the sink got every byte
  };
  const std::vector<Case> cases = {
      {SinkMode::continue_201, 0, 20000, 0, true},
      {SinkMode::continue_201, 1000, 1000, 0, true},
      {SinkMode::continue_201, 1000, 1500, 0, true},  // the body stops at the announced length
      {SinkMode::continue_201, 1000, 600, 23, false},  // less than announced
      {SinkMode::continue_100_201, 0, 3000, 0, true},
      {SinkMode::continue_final_100, 0, 3000, 100, true},
      {SinkMode::continue_then_close, 3000, 3000, 24, true},
      {SinkMode::refuse_body_403, 0, 3000, 403, true},
      {SinkMode::slow_reader, 300000, 300000, 0, true},
      {SinkMode::close_early, 0, 400000, 23, false},
      {SinkMode::close_early, 400000, 400000, 23, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.mode)) + " length " + std::to_string(c.length) + " size " +
                 std::to_string(c.size));
    Sink sink(c.mode);
    set_import(sink.url());
    Feed feed;
    feed.data = patterned(c.size);
    char bookmark[128];
    ASSERT_EQ(upload(feed, c.length, 16384, kMp3, "Rock & Roll <Live> Caf\xC3\xA9", bookmark, sizeof bookmark), 0u);
    EXPECT_STREQ(bookmark, "uuid:upload-server-1,new\\,1");
    EXPECT_EQ(feed.final_result(), c.expected);
    ASSERT_TRUE(wait_until([] { return nmc_uploads_running() == 0; }, 5000));
    EXPECT_EQ(feed.final_count(), 1u);
    if (c.mode == SinkMode::close_early) continue;
    ASSERT_TRUE(wait_until([&] { return sink.requests().size() == 1; }, 12000));
    upload_test::SinkRequest got = sink.requests()[0];
    const std::string &h = got.header;
    EXPECT_NE(h.find("POST /upload HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(h.find("Content-Type: audio/mpeg\r\n"), std::string::npos);
    EXPECT_NE(h.find("Expect: 100-continue\r\n"), std::string::npos);
    EXPECT_NE(h.find("contentFeatures.dlna.org: DLNA.ORG_PN=MP3\r\n"), std::string::npos);
    EXPECT_NE(h.find("transferMode.dlna.org: Background\r\n"), std::string::npos);
    if (c.length > 0) {
      EXPECT_NE(h.find("Content-Length: " + std::to_string(c.length) + "\r\n"), std::string::npos);
      EXPECT_EQ(h.find("Transfer-Encoding"), std::string::npos);
      EXPECT_EQ(got.raw_body.size(), std::min<size_t>(c.length, c.size));
    } else {
      EXPECT_NE(h.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
      EXPECT_EQ(h.find("Content-Length"), std::string::npos);
      EXPECT_EQ(got.raw_body.substr(got.raw_body.size() - 5), "0\r\n\r\n");
    }
    if (c.body_whole) {
      EXPECT_TRUE(got.complete);
      EXPECT_EQ(got.body, feed.data.substr(0, c.length > 0 ? c.length : c.size));
    }
  }
  // The res size goes into CreateObject escaped once, with the title intact.
  std::vector<nmc_test::CdsCall> calls = server_->calls_of("CreateObject");
  ASSERT_FALSE(calls.empty());
  const std::string &elements = calls[1].args["Elements"];
  EXPECT_NE(elements.find("size=\"1000\""), std::string::npos) << elements;
  EXPECT_EQ(elements.find("&quot;"), std::string::npos) << elements;
  EXPECT_NE(elements.find("Rock &amp; Roll &lt;Live&gt; Caf\xC3\xA9"), std::string::npos) << elements;
  EXPECT_EQ(calls[0].args["ContainerID"], "DLNA.ORG_AnyContainer");
  EXPECT_EQ(calls[0].args["Elements"].find("size="), std::string::npos);
}

TEST_F(UploadTest, CallbackAbortsAndOverlongBlocksAndBlockSizes) {
  Sink sink(SinkMode::continue_201);
  set_import(sink.url());
  struct Case {
    uint32_t block;
    uint32_t first_length;
    uint32_t expected_size;
    uint32_t expected;
  };
  for (const Case &c : std::vector<Case>{{1000, LM_DMSCP_UPLOAD_ABORT, 1000, 20},
                                          {1000, 1001, 1000, 10},
                                          {100, 0, 512, 0},
                                          {0, 0, 8192, 0}}) {
    Feed feed;
    feed.data = patterned(2000);
    feed.first_length = c.first_length;
    ASSERT_EQ(upload(feed, 0, c.block), 0u);
    EXPECT_EQ(feed.final_result(), c.expected) << c.block;
    ASSERT_TRUE(wait_until([] { return nmc_uploads_running() == 0; }, 5000));
    EXPECT_EQ(feed.final_count(), 1u);
    ASSERT_FALSE(feed.sizes.empty());
    EXPECT_EQ(feed.sizes[0], c.expected_size);
  }
}

TEST_F(UploadTest, NoInterimAnswerSendsTheBodyWithinTwoSeconds) {
  Sink sink(SinkMode::silent_200);
  set_import(sink.url());
  Feed feed;
  feed.data = patterned(5000);
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(upload(feed, 5000, 8192), 0u);
  EXPECT_EQ(feed.final_result(), 0u);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 3.5);
  ASSERT_TRUE(wait_until([&] { return sink.requests().size() == 1; }, 5000));
  EXPECT_EQ(sink.requests()[0].body, feed.data);
}

TEST_F(UploadTest, PlaylistTextGoesWithItsLengthAndItsStatusIsRead) {
  const std::string wpl = "<?wpl version=\"1.0\"?><smil><body><seq><media src=\"a &amp; b.mp3\"/></seq></body></smil>";
  for (auto mode : {SinkMode::continue_201, SinkMode::refuse_body_403}) {
    Sink sink(mode);
    set_import(sink.url());
    Feed feed;
    feed.data = wpl;
    char bookmark[128];
    ASSERT_EQ(lm_dmscp_upload_playlist(0, &feed, "My wpl", LM_DMSCP_PLAYLIST_MUSIC, 0, 16, Feed::callback,
                                       sizeof bookmark, bookmark),
              0u);
    EXPECT_EQ(feed.final_result(), mode == SinkMode::continue_201 ? 0u : 403u);
    ASSERT_TRUE(wait_until([&] { return sink.requests().size() == 1; }, 5000));
    upload_test::SinkRequest got = sink.requests()[0];
    EXPECT_NE(got.header.find("Content-Type: application/vnd.ms-wpl\r\n"), std::string::npos);
    EXPECT_NE(got.header.find("Content-Length: " + std::to_string(wpl.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(got.header.find("Transfer-Encoding"), std::string::npos);
    EXPECT_EQ(got.body, wpl);
    EXPECT_EQ(feed.sizes[0], 512u);
  }
  std::vector<nmc_test::CdsCall> calls = server_->calls_of("CreateObject");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args["ContainerID"], "music/playlists");
  EXPECT_NE(calls[0].args["Elements"].find("object.container.playlistContainer"), std::string::npos);
}

TEST_F(UploadTest, RunningUploadsAreCappedAndTheStopEndsThem) {
  Sink sink(SinkMode::continue_201);
  set_import(sink.url());
  std::vector<std::unique_ptr<Feed>> feeds;
  for (unsigned i = 0; i < LM_DMSCP_UPLOAD_MAX_ACTIVE; ++i) {
    feeds.push_back(std::make_unique<Feed>());
    feeds.back()->data = patterned(1000);
    feeds.back()->gate_closed = true;
    ASSERT_EQ(upload(*feeds.back(), 0), 0u) << i;
  }
  Feed extra;
  size_t before = creates();
  EXPECT_EQ(upload(extra, 0), 22u);
  EXPECT_EQ(creates(), before);
  for (auto &f : feeds) f->open_gate();
  for (auto &f : feeds) EXPECT_EQ(f->final_result(), 0u);
  ASSERT_TRUE(wait_until([] { return nmc_uploads_running() == 0; }, 5000));

  // A transfer stuck in a send ends with the controller's stop, once.
  Sink stall(SinkMode::stall);
  set_import(stall.url());
  Feed stuck;
  stuck.data = patterned(32 * 1024 * 1024);
  ASSERT_EQ(upload(stuck, stuck.data.size(), 1024 * 1024), 0u);
  ASSERT_TRUE(wait_until(
      [&] {
        std::lock_guard<std::mutex> hold(stuck.mutex);
        return stuck.pos >= 2 * 1024 * 1024;
      },
      10000));
  Sleep(500);
  EXPECT_TRUE(stop_and_wait());
  EXPECT_EQ(stuck.final_count(), 1u);
  EXPECT_NE(stuck.final_result(), 0u);
  EXPECT_EQ(nmc_uploads_running(), 0u);
  stall.release();
}

}  // namespace
