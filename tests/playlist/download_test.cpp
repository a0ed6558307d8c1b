// lm_nmc_download_uri against crafted servers on 127.0.0.1, all cases at
// once: whole resources arrive byte-exact with the final call 0, a cut body
// ends with 14, a download stopped by its callback makes no further call, a
// scheme in capitals is used lower-cased, the resource's DLNA flags choose
// the transfer mode; bad arguments are refused without a call, and the
// controller's implicit start stands in front of it all.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
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
  int data_calls = 0, final_calls = 0, calls_after_stop = 0;
  uint32_t result = 999;
  bool wrong_context = false, stopped = false;
  int stop_at_piece = -1;  // answers 0 at this piece (0-based)

  // Until the final call or the stop; false after ms.
  bool wait(int ms) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return final_calls > 0 || stopped; });
  }
};

int sink_callback(uint32_t context, void **user_data, const char *url, const char *buffer, uint32_t count) {
  auto *s = static_cast<Sink *>(*user_data);
  std::lock_guard<std::mutex> hold(s->mutex);
  s->wrong_context |= context != kContext;
  s->calls_after_stop += s->stopped ? 1 : 0;
  s->urls.push_back(url != nullptr ? url : "<null>");
  if (buffer == nullptr) {
    s->final_calls++;
    s->result = count;
  } else {
    s->stopped = s->data_calls++ == s->stop_at_piece;
    s->data.append(buffer, count);
  }
  s->changed.notify_all();
  return s->stopped ? 0 : 1;
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
  uint32_t buffer = 4096;
  uint32_t result = LM_NMC_DOWNLOAD_DONE;  // of the final call (none when stopped by the callback)
  size_t delivered = std::string::npos;    // bytes from the body's start; a stopped download: a prefix
  bool capital_scheme = false;
  int stop_at_piece = -1;
  const char *protocol_info = nullptr;
  const char *transfer_mode = "";  // in the HEAD, "" none
};

std::vector<DownloadCase> download_cases() {
  std::vector<DownloadCase> cases;
  auto add = [&](const char *name, size_t size) -> DownloadCase & {
    cases.emplace_back();
    cases.back().name = name;
    cases.back().resource.body = patterned_body(size);
    return cases.back();
  };
  add("whole file, default buffer", 50000).buffer = 0;
  add("whole file, buffer of 1000", 12345).buffer = 1000;
  add("empty file", 0);
  add("chunked answer", 30000).resource.chunked = true;
  add("no length, ends with the close", 20000).resource.no_length = true;
  add("refused HEAD", 9000).resource.head_status = 405;
  add("capital scheme", 20000).capital_scheme = true;
  DownloadCase &cut = add("early close with a length", 5000);
  cut.resource.close_after = 1000;
  cut.result = LM_NMC_DOWNLOAD_FAILED;
  cut.delivered = 1000;
  DownloadCase &bad = add("chunk size line without hex digits", 30000);
  bad.resource.chunked = true;
  bad.resource.bad_size_line = "zz";
  bad.result = LM_NMC_DOWNLOAD_FAILED;
  bad.delivered = 1000;
  add("stopped by its callback at the second piece", 200000).stop_at_piece = 1;
  // Stopped by what may well be the last piece (of at least three): still no
  // final call.
  DownloadCase &last = add("stopped by its callback at the third piece", 3000);
  last.buffer = 1000;
  last.stop_at_piece = 2;
  // The first eight hex digits after "DLNA.ORG_FLAGS=", none unless they
  // begin with a decimal digit.
  const struct {
    const char *name, *protocol_info, *mode;
  } flags[] = {
      {"background flag", "http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_FLAGS=00400000000000000000000000000000",
       "transferMode.dlna.org: Background\r\n"},
      {"flags beginning with a letter", "http-get:*:audio/mpeg:DLNA.ORG_FLAGS=C1400000000000000000000000000000", ""},
  };
  for (const auto &f : flags) {
    DownloadCase &c = add(f.name, 3000);
    c.protocol_info = f.protocol_info;
    c.transfer_mode = f.mode;
  }
  return cases;
}

// Every case runs at the same time as the others, each with its own server.
TEST_F(Download, CraftedServersAllAtOnce) {
  std::vector<DownloadCase> cases = download_cases();
  std::vector<std::unique_ptr<TestServer>> servers;
  std::vector<std::unique_ptr<Sink>> sinks;
  for (const DownloadCase &c : cases) {
    servers.push_back(std::make_unique<TestServer>(crafted_handler(c.resource)));
    sinks.push_back(std::make_unique<Sink>());
    sinks.back()->stop_at_piece = c.stop_at_piece;
    std::string url = servers.back()->url("/");
    if (c.capital_scheme) url.replace(0, 4, "HTTP");
    ASSERT_EQ(lm_nmc_download_uri(kContext, sinks.back().get(), url.c_str(), c.protocol_info, c.buffer, sink_callback),
              LM_NMC_OK) << c.name;
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    const DownloadCase &c = cases[i];
    Sink &sink = *sinks[i];
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(sink.wait(kWaitMs));
    // Long enough for a late call after a stop to show.
    if (c.stop_at_piece >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard<std::mutex> hold(sink.mutex);
    EXPECT_FALSE(sink.wrong_context);
    if (c.stop_at_piece >= 0) {
      EXPECT_EQ(sink.final_calls + sink.calls_after_stop, 0);
      EXPECT_EQ(sink.data_calls, c.stop_at_piece + 1);
    } else {
      EXPECT_EQ(sink.final_calls, 1);
      EXPECT_EQ(sink.result, c.result);
    }
    const std::string want = c.resource.body.substr(0, c.stop_at_piece >= 0 ? sink.data.size() : c.delivered);
    EXPECT_TRUE(sink.data == want) << sink.data.size() << " bytes instead of " << want.size();
    const size_t buffer = c.buffer > 0 ? c.buffer : LM_NMC_DOWNLOAD_DEFAULT_BUFFER;
    EXPECT_LE(sink.data.size(), size_t(sink.data_calls) * buffer) << "a piece above the buffer";
    for (const std::string &seen : sink.urls) EXPECT_EQ(seen, servers[i]->url("/"));
    const std::vector<std::string> requests = servers[i]->requests();
    ASSERT_FALSE(requests.empty());
    const size_t mode_at = requests[0].find("transferMode.dlna.org");
    if (*c.transfer_mode != '\0') {
      EXPECT_EQ(requests[0].find(c.transfer_mode), mode_at) << requests[0];
    } else if (c.resource.head_status == 200) {
      EXPECT_EQ(mode_at, std::string::npos) << requests[0];
    }
  }
}

TEST_F(Download, BadArgumentsAreRefusedWithoutACall) {
  const struct {
    const char *url;
    bool callback;
  } cases[] = {{nullptr, true},     {"", true},         {"http://", true}, {"rtsp://127.0.0.1:1/track", true},
               {"/tmp/a.mp3", true}, {"http://127.0.0.1:1/track", false}};
  Sink sink;
  for (const auto &c : cases)
    EXPECT_EQ(lm_nmc_download_uri(kContext, &sink, c.url, nullptr, 0, c.callback ? sink_callback : nullptr),
              LM_NMC_INVALID_PARAMETER) << (c.url != nullptr ? c.url : "no URL");
  EXPECT_FALSE(sink.wait(100));
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
  Sink sink, after;
  ASSERT_EQ(lm_nmc_download_uri(kContext, &sink, server.url("/").c_str(), nullptr, 0, sink_callback), LM_NMC_OK);
  EXPECT_EQ(nmc_run_state(), LM_NMC_STATE_RUNNING);
  ASSERT_TRUE(sink.wait(kWaitMs));
  EXPECT_EQ(sink.result, LM_NMC_DOWNLOAD_DONE);
  ASSERT_TRUE(stop_and_wait());
  EXPECT_EQ(lm_nmc_download_uri(kContext, &after, server.url("/").c_str(), nullptr, 0, sink_callback),
            LM_NMC_GOING_DOWN);
  EXPECT_FALSE(after.wait(100));
}

}  // namespace
