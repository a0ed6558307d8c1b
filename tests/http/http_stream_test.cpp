// The stream receiver against crafted servers on 127.0.0.1: event sequences,
// byte-exact bodies, the requests sent, and the lifecycle under stop, free,
// pause and many seeks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "http/http_stream.h"
#include "http/http_stream_internal.h"
#include "http_stream_test_util.h"
#include "http_test_server.h"

namespace {

size_t count_of(const std::vector<std::string> &requests, const std::string &method) {
  size_t n = 0;
  for (const auto &r : requests) n += r.compare(0, method.size(), method) == 0;
  return n;
}

struct StreamCase {
  const char *name;
  CraftedResource resource;
  uint64_t features;
  std::string extra;   // extra request fields ("" none)
  std::string caller;  // caller header fields
  const char *events;  // expected event codes, runs of 2 folded
  size_t from;         // the data must equal the body from here ...
  size_t to;           // ... to here (npos: its end)
  std::function<void(const std::vector<std::string> &)> check_requests;
  int abort_at_piece = -1;
};

CraftedResource body_of(size_t size) {
  CraftedResource r;
  r.body = patterned_body(size);
  return r;
}

std::vector<StreamCase> stream_cases() {
  const size_t npos = std::string::npos;
  std::vector<StreamCase> cases;
  {
    StreamCase c{"plain body", body_of(20000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.check_requests = [](const std::vector<std::string> &q) {
      ASSERT_EQ(q.size(), 2u);
      EXPECT_EQ(q[0].compare(0, 5, "HEAD "), 0);
      EXPECT_NE(q[0].find("getcontentFeatures.dlna.org: 1\r\n"), std::string::npos);
      EXPECT_EQ(q[0].find("transferMode.dlna.org"), std::string::npos);
      EXPECT_EQ(q[1].compare(0, 4, "GET "), 0);
      EXPECT_NE(q[1].find("transferMode.dlna.org: Streaming\r\n"), std::string::npos);
      // The HEAD told the content type already.
      EXPECT_EQ(q[1].find("getcontentFeatures"), std::string::npos);
    };
    cases.push_back(c);
  }
  {
    StreamCase c{"GET on the connection kept after HEAD", body_of(5000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.keep_alive = true;
    c.resource.head_fields = "Connection: keep-alive\r\n";
    c.check_requests = [](const std::vector<std::string> &q) { EXPECT_EQ(q.size(), 2u); };
    cases.push_back(c);
  }
  {
    StreamCase c{"chunked body with extensions", body_of(7500), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.chunked = true;
    cases.push_back(c);
  }
  {
    StreamCase c{"size line without hex digits", body_of(3000), 0, "", "", "0 1 2 64", 0, 1000, nullptr};
    c.resource.chunked = true;
    c.resource.bad_size_line = "zz";
    cases.push_back(c);
  }
  {
    StreamCase c{"early close with a length", body_of(5000), 0, "", "", "0 1 2 64", 0, 1000, nullptr};
    c.resource.close_after = 1000;
    cases.push_back(c);
  }
  {
    StreamCase c{"close ends a body without length", body_of(6000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.no_length = true;
    c.resource.head_status = 405;  // the HEAD would tell the length
    cases.push_back(c);
  }
  {
    // HEAD refused: the answer to the ShoutCast try is taken as the stream,
    // and its length still tells a cut body from a complete one.
    StreamCase c{"early close after a refused HEAD", body_of(5000), 0, "", "", "0 1 2 64", 0, 1000, nullptr};
    c.resource.head_status = 405;
    c.resource.close_after = 1000;
    cases.push_back(c);
  }
  {
    StreamCase c{"interim answers skipped", body_of(3000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.interim = 2;
    cases.push_back(c);
  }
  {
    StreamCase c{"header above 8 KiB", body_of(3000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.big_header = 9000;
    cases.push_back(c);
  }
  {
    StreamCase c{"relative redirect", body_of(4000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.redirect = "moved/track.mp3";
    c.check_requests = [](const std::vector<std::string> &q) {
      ASSERT_EQ(q.size(), 3u);
      EXPECT_EQ(q[2].compare(0, 25, "GET /moved/track.mp3 HTTP"), 0) << q[2];
    };
    cases.push_back(c);
  }
  {
    // 1 + 10 followed redirects per GET, and the GET is tried twice.
    StreamCase c{"redirect loop", body_of(100), 0, "", "", "0 64", 0, 0, nullptr};
    c.resource.redirect_loop = true;
    c.check_requests = [](const std::vector<std::string> &q) { EXPECT_EQ(count_of(q, "GET "), 22u); };
    cases.push_back(c);
  }
  {
    StreamCase c{"HEAD refused with 405", body_of(3000), 0, "", "", "0 1 2 33", 0, npos, nullptr};
    c.resource.head_status = 405;
    c.check_requests = [](const std::vector<std::string> &q) { EXPECT_EQ(count_of(q, "HEAD "), 1u); };
    cases.push_back(c);
  }
  {
    StreamCase c{"HEAD refused with 406 in download mode", body_of(3000), STREAM_FEATURE_DOWNLOAD, "", "",
                 "0 1 2 33", 0, npos, nullptr};
    c.resource.head_status = 406;
    // HEAD, HEAD in streaming mode, the ShoutCast try (not taken: in
    // download mode only an ICY answer is), and the GET.
    c.check_requests = [](const std::vector<std::string> &q) {
      ASSERT_EQ(q.size(), 4u);
      EXPECT_EQ(q[0].find("transferMode.dlna.org"), std::string::npos);
      EXPECT_NE(q[1].find("transferMode.dlna.org: Streaming\r\n"), std::string::npos);
      EXPECT_NE(q[2].find("Icy-MetaData:1\r\n"), std::string::npos);
      EXPECT_NE(q[3].find("transferMode.dlna.org: Streaming\r\n"), std::string::npos);
    };
    cases.push_back(c);
  }
  {
    // The server answers 200 from byte 0: nothing before byte 1000 may reach
    // the consumer, and the first piece sits at 1000.
    StreamCase c{"range ignored", body_of(5000), 0, "Range: bytes=1000-\r\n", "", "0 1 2 33", 1000, npos, nullptr};
    c.resource.ranges = false;
    cases.push_back(c);
  }
  {
    StreamCase c{"range honoured", body_of(5000), 0, "Range: bytes=1000-\r\n", "", "0 1 2 33", 1000, npos, nullptr};
    cases.push_back(c);
  }
  {
    StreamCase c{"request fields above 1023 characters", body_of(100), 0, "", "X-Long: " + std::string(1100, 'x') + "\r\n",
                 "0 64", 0, 0, nullptr};
    c.check_requests = [](const std::vector<std::string> &q) { EXPECT_TRUE(q.empty()); };
    cases.push_back(c);
  }
  {
    StreamCase c{"consumer aborts", body_of(20000), 0, "", "", "0 1 2 32", 0, 1024, nullptr};
    c.abort_at_piece = 0;
    cases.push_back(c);
  }
  return cases;
}

TEST(HttpStream, CraftedServers) {
  for (const StreamCase &c : stream_cases()) {
    SCOPED_TRACE(c.name);
    TestServer server(crafted_handler(c.resource));
    StreamConsumer consumer;
    consumer.abort_at_piece = c.abort_at_piece;
    std::vector<char> buffer(1024);
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, c.features,
                                             c.extra.empty() ? nullptr : c.extra.c_str(), c.caller.c_str());
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(consumer.wait_end(10000)) << consumer.events;
    upnp_renderer_free_streaminfo(info);
    std::lock_guard<std::mutex> hold(consumer.mutex);
    EXPECT_EQ(consumer.events, c.events);
    std::string want = c.resource.body.substr(c.from, c.to == std::string::npos ? std::string::npos : c.to - c.from);
    EXPECT_TRUE(consumer.data == want) << consumer.data.size() << " bytes instead of " << want.size();
    if (!consumer.piece_positions.empty()) {
      EXPECT_EQ(consumer.piece_positions[0], static_cast<int64_t>(c.from));
    }
    if (c.check_requests) c.check_requests(server.requests());
  }
}

TEST(HttpStream, StopEndsAStalledServerPromptly) {
  CraftedResource r = body_of(100000);
  r.stall_after = 3000;
  TestServer server(crafted_handler(r));
  StreamConsumer consumer;
  std::vector<char> buffer(1024);
  StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0);
  ASSERT_NE(info, nullptr);
  ASSERT_TRUE(consumer.wait_pieces(3, 5000));
  auto t0 = std::chrono::steady_clock::now();
  upnp_renderer_stop_stream(info);
  ASSERT_TRUE(consumer.wait_end(2000));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(consumer.final_code, 32u);
  EXPECT_EQ(consumer.data, r.body.substr(0, 3000));
  upnp_renderer_free_streaminfo(info);
}

// No callback may come once free has returned, whatever the receiver was
// doing (reading from a stalled server, inside a slow callback, just started).
TEST(HttpStream, NoCallbackAfterFree) {
  CraftedResource r = body_of(400000);
  r.stall_after = 200000;
  TestServer server(crafted_handler(r));
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    StreamConsumer consumer;
    std::atomic<bool> freed{false};
    std::atomic<int> late{0}, inside{0};
    consumer.hook = [&, round](uint32_t, uint32_t, StreamInfo *, int64_t) {
      ++inside;
      if (freed) ++late;
      std::this_thread::sleep_for(std::chrono::microseconds(300 * (round % 3)));
      --inside;
      return false;
    };
    std::vector<char> buffer(4096);
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0);
    ASSERT_NE(info, nullptr);
    if (round % 4 != 0) consumer.wait_pieces(round * 3, 5000);
    upnp_renderer_free_streaminfo(info);
    freed = true;
    EXPECT_EQ(inside.load(), 0);  // no callback still running either
    buffer.assign(buffer.size(), 'X');  // the buffer is the caller's again
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(late.load(), 0);
  }
}

// Many seeks in a row: after each seek returns, the first event is 16 and
// the first piece starts at the requested byte; every piece holds the bytes
// of its position; nothing comes from a replaced receiver.
TEST(HttpStream, ManySeeksInARow) {
  CraftedResource r = body_of(1 << 20);
  for (bool honoured : {true, false}) {
    SCOPED_TRACE(honoured ? "range honoured" : "range ignored");
    r.ranges = honoured;
    TestServer server(crafted_handler(r));
    StreamConsumer consumer;
    consumer.piece_delay_us = 200;
    SeekChecker checker(consumer, r.body, "resource");
    std::vector<char> buffer(4096);
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0);
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(consumer.wait_pieces(5, 5000));
    ASSERT_NO_FATAL_FAILURE(
        checker.run(info, 12345, 25, r.body.size() - 100000, [](int i) { return i % 3 == 0 ? 0 : 15; }));
    consumer.piece_delay_us = 0;
    ASSERT_TRUE(consumer.wait_end(20000));
    EXPECT_EQ(consumer.final_code, 33u);
    upnp_renderer_free_streaminfo(info);
  }
}

// Pause by closing (byte seeking possible) and resume from the position
// reached: the body arrives whole and in order.
TEST(HttpStream, PauseByClosingAndResume) {
  CraftedResource r = body_of(300000);
  TestServer server(crafted_handler(r));
  StreamConsumer consumer;
  consumer.piece_delay_us = 100;
  std::vector<char> buffer(4096);
  StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(upnp_renderer_resume_stream(info), STREAM_NOT_ALLOWED);  // not paused
  ASSERT_TRUE(consumer.wait_pieces(5, 5000));
  ASSERT_EQ(upnp_renderer_pause_stream(info), STREAM_OK);
  for (int i = 0; i < 200 && stream_state(info) != STREAM_EVENT_PAUSED; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(stream_state(info), static_cast<uint32_t>(STREAM_EVENT_PAUSED));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  size_t paused_at;
  {
    std::lock_guard<std::mutex> hold(consumer.mutex);
    paused_at = consumer.data.size();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  {
    std::lock_guard<std::mutex> hold(consumer.mutex);
    EXPECT_EQ(consumer.data.size(), paused_at);  // nothing while paused
  }
  ASSERT_EQ(upnp_renderer_resume_stream(info), STREAM_OK);
  consumer.piece_delay_us = 0;
  ASSERT_TRUE(consumer.wait_end(10000));
  std::lock_guard<std::mutex> hold(consumer.mutex);
  EXPECT_EQ(consumer.events, "0 1 2 3 2 33");
  EXPECT_TRUE(consumer.data == r.body) << consumer.data.size();
  auto q = server.requests();
  ASSERT_EQ(q.size(), 3u);
  EXPECT_NE(q[2].find("Range: bytes=" + std::to_string(paused_at) + "-\r\n"), std::string::npos) << q[2];
  upnp_renderer_free_streaminfo(info);
}

// Pause by stalling (no byte seeking): one byte is read per keep-alive
// period; the bytes held back arrive with the next piece, and when the
// buffer is full the stream stops with 32.
TEST(HttpStream, PauseByStalling) {
  stream_set_stall_step_ms(1);
  CraftedResource r = body_of(2000);
  r.accept_ranges = false;
  for (bool resume : {true, false}) {
    SCOPED_TRACE(resume ? "resumed" : "held too long");
    TestServer server(crafted_handler(r));
    StreamConsumer consumer;
    std::vector<char> buffer(4);
    consumer.hook = [&](uint32_t code, uint32_t, StreamInfo *info, int64_t) {
      if (code == STREAM_EVENT_DATA && info->received == 8) upnp_renderer_pause_stream(info);
      return false;
    };
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0);
    ASSERT_NE(info, nullptr);
    for (int i = 0; i < 300 && stream_state(info) != STREAM_EVENT_PAUSED; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(stream_state(info), static_cast<uint32_t>(STREAM_EVENT_PAUSED));
    if (resume) {
      std::this_thread::sleep_for(std::chrono::milliseconds(700));  // about two bytes held back
      ASSERT_EQ(upnp_renderer_resume_stream(info), STREAM_OK);
      ASSERT_TRUE(consumer.wait_end(10000));
      std::lock_guard<std::mutex> hold(consumer.mutex);
      EXPECT_EQ(consumer.events, "0 1 2 3 2 33");
      EXPECT_TRUE(consumer.data == r.body) << consumer.data.size();
    } else {
      ASSERT_TRUE(consumer.wait_end(10000));
      std::lock_guard<std::mutex> hold(consumer.mutex);
      EXPECT_EQ(consumer.events, "0 1 2 3 32");
      EXPECT_EQ(consumer.data, r.body.substr(0, 12));  // the pause came with the third piece
      EXPECT_EQ(info->received, 16);                     // and 4 bytes were held back
    }
    upnp_renderer_free_streaminfo(info);
  }
  stream_set_stall_step_ms(100);
}

// A consumer buffer much smaller than what the server sends at once (and of
// an odd size) still gets every byte in order, in pieces never above its
// size, each at the position where the one before ended: across chunks
// larger than the buffer, past a range the server ignored, and up to a close.
TEST(HttpStream, SmallBufferPiecesFromBigWrites) {
  struct Case {
    const char *name;
    size_t buffer;
    size_t chunk;  // 0: plain body
    bool no_length;
    size_t from;  // a range asked for that the server ignores (0: none)
  };
  const Case cases[] = {
      {"plain", 1000, 0, false, 0},
      {"chunked, chunks larger than the buffer", 4093, 70001, false, 0},
      {"range ignored", 333, 0, false, 300007},
      {"ended by the close", 4096, 0, true, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    CraftedResource r = body_of(600000);
    r.chunked = c.chunk > 0;
    if (c.chunk > 0) r.chunk = c.chunk;
    r.no_length = c.no_length;
    r.ranges = false;
    TestServer server(crafted_handler(r));
    StreamConsumer consumer;
    std::vector<uint32_t> counts;  // the hook runs on the receiver thread only
    consumer.hook = [&](uint32_t code, uint32_t count, StreamInfo *, int64_t) {
      if (code == STREAM_EVENT_DATA) counts.push_back(count);
      return false;
    };
    std::vector<char> buffer(c.buffer);
    std::string extra = c.from > 0 ? "Range: bytes=" + std::to_string(c.from) + "-\r\n" : "";
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0,
                                             extra.empty() ? nullptr : extra.c_str());
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(consumer.wait_end(20000)) << consumer.events;
    upnp_renderer_free_streaminfo(info);
    std::lock_guard<std::mutex> hold(consumer.mutex);
    EXPECT_EQ(consumer.events, "0 1 2 33");
    EXPECT_TRUE(consumer.data == r.body.substr(c.from)) << consumer.data.size();
    ASSERT_EQ(counts.size(), consumer.piece_positions.size());
    int64_t expected = static_cast<int64_t>(c.from);
    for (size_t i = 0; i < counts.size(); ++i) {
      ASSERT_EQ(consumer.piece_positions[i], expected) << "piece " << i;
      ASSERT_GT(counts[i], 0u) << "piece " << i;
      ASSERT_LE(counts[i], c.buffer) << "piece " << i;
      expected += counts[i];
    }
  }
}

TEST(HttpStream, BadArgumentsAndStates) {
  std::vector<char> buffer(64);
  StreamInfo *info = reinterpret_cast<StreamInfo *>(1);
  EXPECT_EQ(upnp_renderer_get_http_stream(nullptr, 64, "http://127.0.0.1:1/", nullptr, nullptr, nullptr, &info), 402);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(upnp_renderer_get_http_stream(buffer.data(), 0, "http://127.0.0.1:1/", nullptr, nullptr, nullptr, &info),
            402);
  EXPECT_EQ(upnp_renderer_download_http_stream(buffer.data(), 64, nullptr, nullptr, nullptr, nullptr, &info), 402);
  EXPECT_EQ(upnp_renderer_pause_stream(nullptr), 402);
  EXPECT_EQ(upnp_renderer_resume_stream(nullptr), 402);
  EXPECT_EQ(upnp_renderer_seek_stream(nullptr, 0, 0), 402);
  EXPECT_EQ(upnp_renderer_reget_stream(nullptr), 402);

  // A stream that failed (nothing listens) refuses pause and resume, and
  // rejects an unknown seek mode.
  TestServer server(crafted_handler(body_of(10)));
  std::string dead = "http://127.0.0.1:1/";
  StreamConsumer consumer;
  StreamInfo *failed = start_consumer_stream(consumer, dead, buffer, 0);
  ASSERT_NE(failed, nullptr);
  ASSERT_TRUE(consumer.wait_end(10000));
  EXPECT_EQ(consumer.events, "0 64");
  EXPECT_EQ(upnp_renderer_pause_stream(failed), 701);
  EXPECT_EQ(upnp_renderer_resume_stream(failed), 701);
  EXPECT_EQ(upnp_renderer_seek_stream(failed, 2, 0), 500);
  upnp_renderer_free_streaminfo(failed);

  // A live stream cannot seek.
  StreamInfo *live = upnp_client_createStreamInfo();
  ASSERT_NE(live, nullptr);
  live = upnp_client_initStreamInfo(live, buffer.data(), 64, dead.c_str(), nullptr, nullptr, nullptr,
                                    STREAM_FEATURE_LIVE);
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(upnp_renderer_seek_stream(live, 0, 10), 701);
  EXPECT_EQ(upnp_renderer_reget_stream(live), 701);
  upnp_renderer_free_streaminfo(live);
}

// Re-get after the end asks for the resource again from its start.
TEST(HttpStream, RegetAfterEnd) {
  CraftedResource r = body_of(9000);
  TestServer server(crafted_handler(r));
  StreamConsumer consumer;
  std::vector<char> buffer(1000);
  StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0, "Range: bytes=4000-\r\n");
  ASSERT_NE(info, nullptr);
  ASSERT_TRUE(consumer.wait_end(10000));
  {
    std::lock_guard<std::mutex> hold(consumer.mutex);
    EXPECT_TRUE(consumer.data == r.body.substr(4000));
    consumer.data.clear();
    consumer.ended = false;
    consumer.events.clear();
  }
  // The resource is asked for again from its start (no range any more).
  ASSERT_EQ(upnp_renderer_reget_stream(info), STREAM_OK);
  ASSERT_TRUE(consumer.wait_end(10000));
  {
    std::lock_guard<std::mutex> hold(consumer.mutex);
    EXPECT_EQ(consumer.events, "16 2 33");
    EXPECT_TRUE(consumer.data == r.body) << consumer.data.size();
  }
  auto q = server.requests();
  ASSERT_EQ(q.size(), 3u);
  EXPECT_EQ(q[2].find("Range:"), std::string::npos);
  upnp_renderer_free_streaminfo(info);
}

// A fake DTCP library: recognises one content type, opens sessions that
// tell the content's own type, and counts what it was asked.
std::atomic<int> g_opened{0}, g_closed{0};
std::atomic<bool> g_open_fails{false};
int fake_recognise(const char *type) { return std::strstr(type, "application/x-dtcp1") != nullptr; }
void *fake_open(const char *, const char *, char *real_type, unsigned int size) {
  if (g_open_fails) return nullptr;
  ++g_opened;
  std::snprintf(real_type, size, "audio/mpeg");
  return &g_opened;
}
void fake_close(void *session) {
  if (session == &g_opened) ++g_closed;
}

TEST(HttpStream, ProtectionSessions) {
  upnp_dtcp_callbacks hooks{fake_recognise, fake_open, fake_close};
  upnp_renderer_set_dtcp_callbacks(&hooks);
  CraftedResource r = body_of(6000);
  r.content_type = "application/x-dtcp1";
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "session refused" : "session opened");
    g_open_fails = fails;
    g_opened = g_closed = 0;
    TestServer server(crafted_handler(r));
    StreamConsumer consumer;
    std::atomic<int> protected_pieces{0};
    consumer.hook = [&](uint32_t code, uint32_t, StreamInfo *info, int64_t) {
      EnterCriticalSection(&info->lock);
      bool ok = (info->features & STREAM_FEATURE_PROTECTED) && info->content_type &&
                std::strcmp(info->content_type, "audio/mpeg") == 0;
      LeaveCriticalSection(&info->lock);
      if (code == STREAM_EVENT_DATA && ok) ++protected_pieces;
      return false;
    };
    std::vector<char> buffer(1000);
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, 0);
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(consumer.wait_end(10000));
    upnp_renderer_free_streaminfo(info);
    if (fails) {
      EXPECT_EQ(consumer.events, "0 64");
      EXPECT_EQ(g_opened.load(), 0);
    } else {
      EXPECT_EQ(consumer.events, "0 1 2 33");
      EXPECT_EQ(protected_pieces.load(), 6);
      EXPECT_EQ(g_opened.load(), 1);
      EXPECT_EQ(g_closed.load(), 1);
    }
  }
  // The cache does not stream protected content.
  std::vector<char> buffer(64);
  StreamInfo *info = nullptr;
  EXPECT_EQ(upnp_renderer_get_file_stream_int(buffer.data(), 64, "/etc/hostname", "application/x-dtcp1", 0, nullptr,
                                              &info),
            STREAM_FAILED);
  upnp_renderer_set_dtcp_callbacks(nullptr);
}

}  // namespace
