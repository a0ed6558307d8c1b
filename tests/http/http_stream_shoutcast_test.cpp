// ShoutCast streams against crafted ICY servers on 127.0.0.1: metadata
// blocks, chunked answers, playlist bodies and redirections, refusals.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "http/http_stream.h"
#include "http_stream_test_util.h"
#include "http_test_server.h"

namespace {

const std::vector<std::string> kTitles = {"Artist One - First Song", "Second Song", "Artist Three - Third"};

// Answers every request with `answer`; requests are recorded by the server.
TestServer::Handler answer_with(const std::string &answer) {
  return [answer](TestServer &, int fd, const std::string &) { TestServer::send_all(fd, answer); };
}

struct IcyCase {
  const char *name;
  std::string answer;  // {next} stands for the second server's URL
  uint64_t features;   // LIVE: ShoutCast only; 0: after a refused HEAD
  const char *events;
  size_t audio_bytes;  // the consumer gets the audio's first bytes
  const char *last_title;
  size_t requests;     // requests the first server saw
};

TEST(HttpStreamShoutcast, CraftedIcyServers) {
  const std::string audio = patterned_body(5000);
  const std::string stream = icy_answer(audio, 400, kTitles);
  // The second chunk's size line loses its hex digits.
  std::string bad_size_line = icy_answer(audio, 400, kTitles, 1000);
  bad_size_line.replace(bad_size_line.find("\r\n3e8\r\n", bad_size_line.find("\r\n\r\n") + 1000) + 2, 3, "zz");
  const std::string playlist_body = "[playlist]\nNumberOfEntries=1\nFile1={next}\n";
  std::vector<IcyCase> cases = {
      {"metadata blocks", stream, STREAM_FEATURE_LIVE, "0 1 2 33", 5000, "Artist Three - Third", 1},
      {"chunked with metadata", icy_answer(audio, 400, kTitles, 333), STREAM_FEATURE_LIVE, "0 1 2 33", 5000,
       "Artist Three - Third", 1},
      {"without metadata", icy_answer(audio, 0, {}), STREAM_FEATURE_LIVE, "0 1 2 33", 5000, nullptr, 1},
      {"after a HEAD answered ICY", stream, 0, "0 1 2 33", 5000, "Artist Three - Third", 2},
      {"playlist body", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: {len}\r\n\r\n" + playlist_body,
       STREAM_FEATURE_LIVE, "0 1 2 33", 5000, "Artist Three - Third", 1},
      {"playlist body cut short", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 500\r\n\r\n" +
                                      playlist_body,
       STREAM_FEATURE_LIVE, "0 64", 0, nullptr, 1},
      {"relative redirect to the stream", "SELF", STREAM_FEATURE_LIVE, "0 1 2 33", 5000, "Artist Three - Third", 2},
      {"redirect loop", "HTTP/1.1 302 Found\r\nLocation: /radio\r\nContent-Length: 0\r\n\r\n",
       STREAM_FEATURE_LIVE, "0 64", 0, nullptr, 11},  // the same server again and again: a loop
      {"ICY 404", "ICY 404 Resource Not Found\r\n\r\n", STREAM_FEATURE_LIVE, "0 64", 0, nullptr, 1},
      {"chunk size line without hex digits", bad_size_line, STREAM_FEATURE_LIVE, "0 1 2 64", 0, nullptr, 1},
  };
  for (IcyCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestServer second(answer_with(stream));
    size_t at = c.answer.find("{next}");
    if (at != std::string::npos) c.answer.replace(at, 6, second.url("/radio"));
    at = c.answer.find("{len}");
    if (at != std::string::npos) {
      size_t body_size = c.answer.size() - (c.answer.find("\r\n\r\n") + 4);
      c.answer.replace(at, 5, std::to_string(body_size));
    }
    std::string answer = c.answer;
    if (answer == "SELF") answer = "HTTP/1.1 302 Found\r\nLocation: radio\r\nContent-Length: 0\r\n\r\n";
    const bool self = c.answer == "SELF";
    TestServer server([answer, self, stream](TestServer &, int fd, const std::string &request) {
      if (self && request.compare(0, 11, "GET /radio ") == 0) {
        TestServer::send_all(fd, stream);
        return;
      }
      // A HEAD gets the ICY answer's header only.
      if (request.compare(0, 5, "HEAD ") == 0) {
        TestServer::send_all(fd, answer.substr(0, answer.find("\r\n\r\n") + 4));
        return;
      }
      TestServer::send_all(fd, answer);
    });
    StreamConsumer consumer;
    std::vector<char> buffer(256);
    StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, c.features);
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(consumer.wait_end(10000));
    {
      std::lock_guard<std::mutex> hold(consumer.mutex);
      EXPECT_EQ(consumer.events, c.events);
      if (c.audio_bytes) {
        EXPECT_TRUE(consumer.data == audio.substr(0, c.audio_bytes)) << consumer.data.size();
      }
    }
    EXPECT_EQ(server.requests().size(), c.requests);
    if (c.last_title) {
      ASSERT_NE(info->icy, nullptr);
      EXPECT_STREQ(info->icy->title, c.last_title);
      EXPECT_STREQ(info->icy->stream_url, "http://radio.invalid/2");
      EXPECT_EQ(info->icy->changed, 3u);
      EXPECT_STREQ(info->icy->name, "Test Radio");
      EXPECT_EQ(info->icy->bitrate, 128);
      EXPECT_EQ(info->icy->metaint, 400);
      EXPECT_TRUE(stream_features(info) & STREAM_FEATURE_LIVE);
      EXPECT_EQ(upnp_renderer_seek_stream(info, 0, 100), STREAM_NOT_ALLOWED);
    }
    upnp_renderer_free_streaminfo(info);
  }
}

// A server refusing HEAD that answers with plain HTTP: in download mode the
// ShoutCast try does not take it, and the stream is an ordinary one.
TEST(HttpStreamShoutcast, DownloadModeTakesOnlyIcy) {
  CraftedResource r;
  r.body = patterned_body(3000);
  r.head_status = 405;
  TestServer server(crafted_handler(r));
  StreamConsumer consumer;
  std::vector<char> buffer(512);
  StreamInfo *info = start_consumer_stream(consumer, server.url("/"), buffer, STREAM_FEATURE_DOWNLOAD);
  ASSERT_NE(info, nullptr);
  ASSERT_TRUE(consumer.wait_end(10000));
  EXPECT_EQ(consumer.events, "0 1 2 33");
  EXPECT_TRUE(consumer.data == r.body);
  EXPECT_EQ(info->icy, nullptr);
  EXPECT_FALSE(stream_features(info) & STREAM_FEATURE_LIVE);
  upnp_renderer_free_streaminfo(info);
}

TEST(HttpStreamShoutcast, TrackInfo) {
  const char *cases[][3] = {
      {"Artist - Title", "Title", "Artist"},
      {"A - B - C", "B - C", "A"},
      {"Just a title", "Just a title", nullptr},
      {" - Title", "Title", ""},
      {"", "", nullptr},
  };
  for (const auto &c : cases) {
    char *title = nullptr, *artist = nullptr;
    ASSERT_EQ(upnp_renderer_get_shoutcast_track_info(c[0], &title, &artist), STREAM_OK);
    EXPECT_STREQ(title, c[1]) << c[0];
    if (c[2]) {
      EXPECT_STREQ(artist, c[2]) << c[0];
    } else {
      EXPECT_EQ(artist, nullptr) << c[0];
    }
    upnp_free_impl(title);
    upnp_free_impl(artist);
  }
  char *title = reinterpret_cast<char *>(1);
  char *artist = nullptr;
  EXPECT_EQ(upnp_renderer_get_shoutcast_track_info(nullptr, &title, &artist), STREAM_MISSING_ARGUMENT);
  EXPECT_EQ(title, nullptr);
}

TEST(HttpStreamShoutcast, LiveStreamArguments) {
  std::vector<char> buffer(64);
  StreamInfo *info = reinterpret_cast<StreamInfo *>(1);
  EXPECT_EQ(upnp_renderer_get_http_live_stream(buffer.data(), 64, nullptr, nullptr, nullptr, &info), 402);
  EXPECT_EQ(info, nullptr);
  // Not an http:// URL: the ShoutCast reader refuses it.
  StreamConsumer consumer;
  StreamInfo *s = start_consumer_stream(consumer, "ftp://127.0.0.1:1/x", buffer, STREAM_FEATURE_LIVE);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(consumer.wait_end(10000));
  EXPECT_EQ(consumer.events, "0 64");
  upnp_renderer_free_streaminfo(s);
}

}  // namespace
