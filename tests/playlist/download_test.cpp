// lm_nmc_download_uri against crafted servers on 127.0.0.1: whole resources
// arrive byte-exact with the final call 0, a cut body ends with 14, a
// download stopped by its callback makes no further call, a scheme in
// capitals is used lower-cased, the resource's DLNA flags choose the
// transfer mode, bad arguments are refused without a call, and the
// controller's implicit start stands in front of it all.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_test_util.h"
#include "playlist/lm_nmc_download.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr uint32_t kContext = 0x10005;

// What the application's callback saw.
struct Sink {
  std::mutex mutex;
  std::condition_variable changed;
  std::string data;
  std::vector<std::string> urls;
  int data_calls = 0;
  int final_calls = 0;
  int calls_after_stop = 0;
  uint32_t result = 999;
  bool wrong_context = false;
  int stop_at_piece = -1;  // answers 0 at this piece (0-based)
  bool stopped = false;

  bool wait_final(int ms) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return final_calls > 0; });
  }
  bool wait_stopped(int ms) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stopped; });
  }
};

int sink_callback(uint32_t context, void **user_data, const char *url, const char *buffer, uint32_t count) {
  auto *s = static_cast<Sink *>(*user_data);
  std::lock_guard<std::mutex> hold(s->mutex);
  if (context != kContext) s->wrong_context = true;
  if (s->stopped) s->calls_after_stop++;
  s->urls.push_back(url != nullptr ? url : "<null>");
  int go_on = 1;
  if (buffer == nullptr) {
    s->final_calls++;
    s->result = count;
  } else {
    if (s->data_calls == s->stop_at_piece) {
      s->stopped = true;
      go_on = 0;
    }
    s->data_calls++;
    s->data.append(buffer, count);
  }
  s->changed.notify_all();
  return go_on;
}

class Download : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    ASSERT_EQ(start(), 1);
  }
};

struct DownloadCase {
  const char *name;
  CraftedResource resource;
  uint32_t buffer;
  bool capital_scheme;
  int stop_at_piece;
  uint32_t result;   // of the final call; none when stopped by the callback
  size_t delivered;  // bytes the callback gets (from the start of the body);
                     // a stopped download gets a prefix of the body
};

std::vector<DownloadCase> download_cases() {
  const size_t npos = std::string::npos;
  std::vector<DownloadCase> cases;
  auto add = [&](const char *name, size_t size, uint32_t buffer, uint32_t result, size_t delivered) {
    DownloadCase c{name, CraftedResource{}, buffer, false, -1, result, delivered};
    c.resource.body = patterned_body(size);
    cases.push_back(c);
    return &cases.back();
  };
  add("whole file, default buffer", 50000, 0, LM_NMC_DOWNLOAD_DONE, npos);
  add("whole file, buffer of 1000", 12345, 1000, LM_NMC_DOWNLOAD_DONE, npos);
  add("empty file", 0, 0, LM_NMC_DOWNLOAD_DONE, npos);
  add("chunked answer", 30000, 4096, LM_NMC_DOWNLOAD_DONE, npos)->resource.chunked = true;
  add("no length, ends with the close", 20000, 4096, LM_NMC_DOWNLOAD_DONE, npos)->resource.no_length = true;
  add("early close with a length", 5000, 1024, LM_NMC_DOWNLOAD_FAILED, 1000)->resource.close_after = 1000;
  add("chunk size line without hex digits", 30000, 4096, LM_NMC_DOWNLOAD_FAILED, 1000)->resource.chunked = true;
  cases.back().resource.bad_size_line = "zz";
  add("refused HEAD", 9000, 4096, LM_NMC_DOWNLOAD_DONE, npos)->resource.head_status = 405;
  add("capital scheme", 20000, 4096, LM_NMC_DOWNLOAD_DONE, npos)->capital_scheme = true;
  add("stopped by its callback at the second piece", 200000, 1024, 0, npos)->stop_at_piece = 1;
  // Stopped by the piece that may well be the last: still no final call.
  add("stopped by its callback at the third piece", 3000, 1000, 0, npos)->stop_at_piece = 2;
  return cases;
}

TEST_F(Download, CraftedServers) {
  for (const DownloadCase &c : download_cases()) {
    SCOPED_TRACE(c.name);
    TestServer server(crafted_handler(c.resource));
    std::string url = server.url("/");
    const std::string lower = url;
    if (c.capital_scheme) url.replace(0, 4, "HTTP");
    Sink sink;
    sink.stop_at_piece = c.stop_at_piece;
    ASSERT_EQ(lm_nmc_download_uri(kContext, &sink, url.c_str(), nullptr, c.buffer, sink_callback), LM_NMC_OK);
    if (c.stop_at_piece >= 0) {
      ASSERT_TRUE(sink.wait_stopped(kWaitMs));
      // Long enough for a late call from the receiver to show.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else {
      ASSERT_TRUE(sink.wait_final(kWaitMs));
    }
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_FALSE(sink.wrong_context);
    if (c.stop_at_piece >= 0) {
      EXPECT_EQ(sink.final_calls, 0);
      EXPECT_EQ(sink.calls_after_stop, 0);
      EXPECT_EQ(sink.data_calls, c.stop_at_piece + 1);
      EXPECT_FALSE(sink.data.empty());
    } else {
      EXPECT_EQ(sink.final_calls, 1);
      EXPECT_EQ(sink.result, c.result);
    }
    const std::string want =
        c.resource.body.substr(0, c.stop_at_piece >= 0 ? sink.data.size() : c.delivered);
    EXPECT_TRUE(sink.data == want) << sink.data.size() << " bytes instead of " << want.size();
    for (const std::string &seen : sink.urls) EXPECT_EQ(seen, lower);
    if (c.buffer > 0) {
      EXPECT_LE(sink.data.size(), static_cast<size_t>(sink.data_calls) * c.buffer) << "a piece above the buffer";
    }
  }
}

// The resource's DLNA flags choose the transfer mode of the requests: the
// first eight hexadecimal digits after "DLNA.ORG_FLAGS=", none unless they
// begin with a decimal digit.
TEST_F(Download, ProtocolInfoFlagsChooseTheTransferMode) {
  const struct {
    const char *protocol_info;
    const char *transfer_mode;  // in the HEAD, "" none
  } cases[] = {
      {"http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_FLAGS=00400000000000000000000000000000",
       "transferMode.dlna.org: Background\r\n"},
      {"http-get:*:audio/mpeg:DLNA.ORG_FLAGS=01000000000000000000000000000000", "transferMode.dlna.org: Streaming\r\n"},
      {"http-get:*:audio/mpeg:DLNA.ORG_FLAGS=C1400000000000000000000000000000", ""},
      {"http-get:*:audio/mpeg:DLNA.ORG_FLAGS=0140", ""},
      {nullptr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.protocol_info != nullptr ? c.protocol_info : "no protocolInfo");
    CraftedResource resource;
    resource.body = patterned_body(3000);
    TestServer server(crafted_handler(resource));
    Sink sink;
    ASSERT_EQ(lm_nmc_download_uri(kContext, &sink, server.url("/").c_str(), c.protocol_info, 0, sink_callback),
              LM_NMC_OK);
    ASSERT_TRUE(sink.wait_final(kWaitMs));
    EXPECT_EQ(sink.result, LM_NMC_DOWNLOAD_DONE);
    const std::vector<std::string> requests = server.requests();
    ASSERT_FALSE(requests.empty());
    ASSERT_EQ(requests[0].compare(0, 5, "HEAD "), 0) << requests[0];
    if (*c.transfer_mode != '\0') {
      EXPECT_NE(requests[0].find(c.transfer_mode), std::string::npos) << requests[0];
    } else {
      EXPECT_EQ(requests[0].find("transferMode.dlna.org"), std::string::npos) << requests[0];
    }
  }
}

// Several downloads at once each get their own bytes.
TEST_F(Download, ConcurrentDownloadsKeepTheirBytesApart) {
  constexpr int kCount = 4;
  std::vector<std::unique_ptr<TestServer>> servers;
  std::vector<CraftedResource> resources(kCount);
  Sink sinks[kCount];
  for (int i = 0; i < kCount; ++i) {
    resources[i].body = patterned_body(40000 + 7000 * i).substr(i);
    servers.push_back(std::make_unique<TestServer>(crafted_handler(resources[i])));
  }
  for (int i = 0; i < kCount; ++i)
    ASSERT_EQ(lm_nmc_download_uri(kContext, &sinks[i], servers[i]->url("/").c_str(), nullptr, 2048, sink_callback),
              LM_NMC_OK);
  for (int i = 0; i < kCount; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(sinks[i].wait_final(kWaitMs));
    std::lock_guard<std::mutex> hold(sinks[i].mutex);
    EXPECT_EQ(sinks[i].result, LM_NMC_DOWNLOAD_DONE);
    EXPECT_TRUE(sinks[i].data == resources[i].body);
  }
}

TEST_F(Download, BadArgumentsAreRefusedWithoutACall) {
  const struct {
    const char *name;
    const char *url;
    bool callback;
  } cases[] = {
      {"no URL", nullptr, true},
      {"empty URL", "", true},
      {"scheme only", "http://", true},
      {"RTSP URL", "rtsp://127.0.0.1:1/track", true},
      {"file path", "/tmp/track.mp3", true},
      {"no callback", "http://127.0.0.1:1/track", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Sink sink;
    EXPECT_EQ(lm_nmc_download_uri(kContext, &sink, c.url, nullptr, 0, c.callback ? sink_callback : nullptr),
              LM_NMC_INVALID_PARAMETER);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_TRUE(sink.urls.empty());
  }
}

// The first download starts the controller by itself; after an explicit stop
// it answers 11 and calls nothing. Needs a process of its own (ctest runs
// each case alone).
class DownloadStart : public nmc_test::NmcTest {};

TEST_F(DownloadStart, FirstDownloadStartsTheControllerAndAStopHoldsIt) {
  if (nmc_run_state() != LM_NMC_STATE_NEVER_STARTED) GTEST_SKIP() << "needs a fresh process";
  CraftedResource resource;
  resource.body = patterned_body(5000);
  TestServer server(crafted_handler(resource));
  Sink sink;
  ASSERT_EQ(lm_nmc_download_uri(kContext, &sink, server.url("/").c_str(), nullptr, 0, sink_callback), LM_NMC_OK);
  EXPECT_EQ(nmc_run_state(), LM_NMC_STATE_RUNNING);
  ASSERT_TRUE(sink.wait_final(kWaitMs));
  EXPECT_EQ(sink.result, LM_NMC_DOWNLOAD_DONE);

  ASSERT_TRUE(stop_and_wait());
  Sink after;
  EXPECT_EQ(lm_nmc_download_uri(kContext, &after, server.url("/").c_str(), nullptr, 0, sink_callback),
            LM_NMC_GOING_DOWN);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::lock_guard<std::mutex> hold(after.mutex);
  EXPECT_TRUE(after.urls.empty());
}

}  // namespace
