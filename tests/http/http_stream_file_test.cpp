// File streams: a path or a descriptor handed out like an HTTP stream, with
// pause, resume, seeks and the file's fate at the end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "http/http_stream.h"
#include "http_stream_test_util.h"
#include "http_test_server.h"

namespace {

std::string write_file(const std::string &body) {
  char path[] = "/tmp/kestrel_stream_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
  close(fd);
  return path;
}

// The callback needs the consumer before the first event: it is kept in a
// global for the record being started.
StreamConsumer *g_consumer = nullptr;
int global_callback(uint32_t count, StreamInfo *info) {
  info->context = g_consumer;
  return stream_consumer_callback(count, info);
}

StreamInfo *start(StreamConsumer &consumer, std::vector<char> &buffer, const char *path, int fd, int64_t offset,
                  int close_at_end, int *result = nullptr) {
  g_consumer = &consumer;
  StreamInfo *info = nullptr;
  int r = upnp_renderer_get_file_stream(buffer.data(), static_cast<uint32_t>(buffer.size()), path, fd, "audio/mpeg",
                                        offset, close_at_end, global_callback, &info);
  if (result) *result = r;
  return info;
}

TEST(HttpStreamFile, PathAndDescriptorStreams) {
  const std::string body = patterned_body(50000);
  const std::string path = write_file(body);
  struct Case {
    const char *name;
    bool pipe;
    int64_t offset;
    int close_at_end;
  };
  const Case cases[] = {
      {"whole file", false, 0, 1},
      {"from an offset", false, 12345, 1},
      {"pipe, left open", true, 0, 0},
      {"pipe, closed at the end", true, 0, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    StreamConsumer consumer;
    std::vector<char> buffer(4096);
    int fds[2] = {-1, -1};
    std::thread writer;
    if (c.pipe) {
      ASSERT_EQ(pipe(fds), 0);
      writer = std::thread([&] {
        for (size_t at = 0; at < body.size(); at += 7000)
          if (write(fds[1], body.data() + at, std::min<size_t>(7000, body.size() - at)) < 0) break;
        close(fds[1]);
      });
    }
    StreamInfo *info = start(consumer, buffer, c.pipe ? nullptr : path.c_str(), fds[0], c.offset, c.close_at_end);
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(consumer.wait_end(10000));
    if (writer.joinable()) writer.join();
    {
      std::lock_guard<std::mutex> hold(consumer.mutex);
      EXPECT_EQ(consumer.events, "0 1 2 33");
      EXPECT_TRUE(consumer.data == body.substr(static_cast<size_t>(c.offset))) << consumer.data.size();
      EXPECT_EQ(consumer.piece_positions.at(0), c.offset);
    }
    if (c.pipe) {
      EXPECT_STREQ(info->url, "<pipe>");
      EXPECT_EQ(upnp_renderer_seek_stream(info, 0, 10), STREAM_NOT_ALLOWED);
      upnp_renderer_free_streaminfo(info);
      // The caller's descriptor is closed only when the caller said so.
      EXPECT_EQ(fcntl(fds[0], F_GETFD) != -1, c.close_at_end == 0);
      if (c.close_at_end == 0) close(fds[0]);
    } else {
      // The file was closed at the end: no more seeking.
      EXPECT_EQ(upnp_renderer_seek_stream(info, 0, 10), STREAM_NOT_ALLOWED);
      upnp_renderer_free_streaminfo(info);
    }
  }
  unlink(path.c_str());
}

TEST(HttpStreamFile, PauseResumeAndSeeks) {
  const std::string body = patterned_body(1 << 20);
  const std::string path = write_file(body);
  StreamConsumer consumer;
  consumer.piece_delay_us = 300;
  SeekChecker checker(consumer, body, "file");
  std::vector<char> buffer(4096);
  StreamInfo *info = start(consumer, buffer, path.c_str(), -1, 0, 1);
  ASSERT_NE(info, nullptr);
  ASSERT_TRUE(consumer.wait_pieces(5, 5000));

  ASSERT_EQ(upnp_renderer_pause_stream(info), STREAM_OK);
  for (int i = 0; i < 300 && stream_state(info) != STREAM_EVENT_PAUSED; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(stream_state(info), static_cast<uint32_t>(STREAM_EVENT_PAUSED));
  EXPECT_EQ(upnp_renderer_seek_stream(info, 1, 1000), STREAM_NOT_ALLOWED);  // no time seeks in files
  ASSERT_EQ(upnp_renderer_resume_stream(info), STREAM_OK);
  EXPECT_EQ(upnp_renderer_resume_stream(info), STREAM_NOT_ALLOWED);  // running, nothing to resume

  ASSERT_NO_FATAL_FAILURE(checker.run(info, 777, 20, body.size() - 200000, [](int i) { return i % 2 ? 0 : 10; }));
  consumer.piece_delay_us = 0;
  ASSERT_TRUE(consumer.wait_end(20000));
  EXPECT_EQ(consumer.final_code, 33u);
  upnp_renderer_free_streaminfo(info);
  unlink(path.c_str());
}

TEST(HttpStreamFile, BadArguments) {
  std::vector<char> buffer(64);
  StreamInfo *info = reinterpret_cast<StreamInfo *>(1);
  EXPECT_EQ(upnp_renderer_get_file_stream(nullptr, 64, "/etc/hostname", -1, "a/b", 0, 1, nullptr, &info), 402);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(upnp_renderer_get_file_stream(buffer.data(), 0, "/etc/hostname", -1, "a/b", 0, 1, nullptr, &info), 402);
  EXPECT_EQ(upnp_renderer_get_file_stream(buffer.data(), 64, "/etc/hostname", -1, nullptr, 0, 1, nullptr, &info), 402);
  EXPECT_EQ(upnp_renderer_get_file_stream(buffer.data(), 64, nullptr, -1, "a/b", 0, 1, nullptr, &info), 402);
  EXPECT_EQ(upnp_renderer_get_file_stream(buffer.data(), 64, "/nonexistent/kestrel", -1, "a/b", 0, 1, nullptr, &info),
            500);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(upnp_renderer_get_file_stream_int(buffer.data(), 64, "http://h/x.mp3", "a/b", 0, nullptr, &info), 402);
  EXPECT_EQ(upnp_renderer_seek_file_stream(nullptr, 0, 0), 402);
  EXPECT_EQ(upnp_renderer_resume_file_stream(nullptr), 402);
}

TEST(HttpStreamFile, CacheStreamIsMarked) {
  const std::string body = patterned_body(3000);
  const std::string path = write_file(body);
  StreamConsumer consumer;
  g_consumer = &consumer;
  std::vector<char> buffer(1000);
  StreamInfo *info = nullptr;
  ASSERT_EQ(upnp_renderer_get_file_stream_int(buffer.data(), 1000, path.c_str(), "audio/mpeg", 1000, global_callback,
                                              &info),
            STREAM_OK);
  ASSERT_TRUE(consumer.wait_end(10000));
  EXPECT_TRUE(stream_features(info) & STREAM_FEATURE_CACHE_FILE);
  {
    std::lock_guard<std::mutex> hold(consumer.mutex);
    EXPECT_TRUE(consumer.data == body.substr(1000));
  }
  upnp_renderer_free_streaminfo(info);
  unlink(path.c_str());
}

}  // namespace
