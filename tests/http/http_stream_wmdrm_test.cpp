// The WMDRM hooks against a fake content-protection hook: HTTP and file
// streams passing their data through the context, resets on pause and seek,
// the finish at the end, block alignment on resume and in file streams, and
// the licence binding of file streams (URLs then go to the HTTP receiver).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "http/http_stream.h"
#include "http_stream_test_util.h"
#include "http_stream_wmdrm_fake.h"
#include "http_test_server.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

constexpr int kWaitMs = 10000;

StreamConsumer *g_consumer = nullptr;
int global_callback(uint32_t count, StreamInfo *info) {
  info->context = g_consumer;
  return stream_consumer_callback(count, info);
}

std::string consumer_data(StreamConsumer &c) {
  std::lock_guard<std::mutex> hold(c.mutex);
  return c.data;
}

struct Uninstall {
  ~Uninstall() { FakeWmdrm::uninstall(); }
};

TEST(HttpStreamWmdrm, HttpStreamsPassThroughTheContext) {
  const std::string body = patterned_body(30000);
  struct Case {
    const char *name;
    bool hooks;
    const char *path;
    bool download;
    bool decrypted;  // the consumer gets the clear text
    int prepared;
  };
  const Case cases[] = {
      {"protected content", true, "/prot.wma", false, true, 1},
      {"download mode skips the context", true, "/prot.wma", true, false, 0},
      {"content the hook does not protect", true, "/plain.wma", false, false, 0},
      {"no hooks registered", false, "/prot.wma", false, false, 0},
  };
  Uninstall uninstall;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.hooks)
      g_fake_wmdrm.install(false);
    else
      FakeWmdrm::uninstall();
    CraftedResource resource;
    resource.body = fake_wmdrm_crypt(body);
    TestServer server(crafted_handler(resource));
    StreamConsumer consumer;
    g_consumer = &consumer;
    std::vector<char> buffer(4096);
    StreamInfo *info = nullptr;
    const std::string url = server.url(c.path);
    int r = c.download ? upnp_renderer_download_http_stream(buffer.data(), 4096, url.c_str(), nullptr, nullptr,
                                                            global_callback, &info)
                       : upnp_renderer_get_http_stream(buffer.data(), 4096, url.c_str(), nullptr, nullptr,
                                                       global_callback, &info);
    ASSERT_EQ(r, STREAM_OK);
    ASSERT_TRUE(consumer.wait_end(kWaitMs));
    EXPECT_EQ(consumer.events, "0 1 2 33");
    EXPECT_TRUE(consumer_data(consumer) == (c.decrypted ? body : resource.body));
    upnp_renderer_free_streaminfo(info);
    EXPECT_EQ(g_fake_wmdrm.prepared.load(), c.hooks ? c.prepared : 0);
    // The context is finished exactly once: at the end of the stream.
    EXPECT_EQ(g_fake_wmdrm.finished.load(), c.hooks ? c.prepared : 0);
  }
}

TEST(HttpStreamWmdrm, PauseAndSeekResetTheContextAndResumeStartsOnABlock) {
  const std::string body = patterned_body(200000);
  struct Case {
    const char *name;
    bool seek;  // else pause and resume
  };
  const Case cases[] = {{"pause and resume", false}, {"seek by bytes", true}};
  Uninstall uninstall;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    g_fake_wmdrm.install(false);
    CraftedResource resource;
    resource.body = fake_wmdrm_crypt(body);
    TestServer server(crafted_handler(resource));
    StreamConsumer consumer;
    consumer.piece_delay_us = 2000;
    g_consumer = &consumer;
    std::vector<char> buffer(2000);
    StreamInfo *info = nullptr;
    ASSERT_EQ(upnp_renderer_get_http_stream(buffer.data(), 2000, server.url("/prot.wma").c_str(), nullptr, nullptr,
                                            global_callback, &info),
              STREAM_OK);
    ASSERT_TRUE(consumer.wait_pieces(5, kWaitMs));
    int64_t restart_at = 0, paused_at = 0;
    if (c.seek) {
      restart_at = 100000;
      ASSERT_EQ(upnp_renderer_seek_stream(info, 0, restart_at), STREAM_OK);
    } else {
      ASSERT_EQ(upnp_renderer_pause_stream(info), STREAM_OK);
      ASSERT_TRUE(test_support::wait_until([&] { return stream_state(info) == STREAM_EVENT_PAUSED; }, kWaitMs))
          << consumer.events << " state " << stream_state(info);
      EnterCriticalSection(&info->lock);
      paused_at = info->position;
      LeaveCriticalSection(&info->lock);
      restart_at = paused_at - paused_at % 1000;
      ASSERT_EQ(upnp_renderer_resume_stream(info), STREAM_OK);
    }
    ASSERT_TRUE(consumer.wait_end(kWaitMs));
    EXPECT_EQ(consumer.final_code, static_cast<uint32_t>(STREAM_EVENT_END));
    EXPECT_GE(g_fake_wmdrm.resets.load(), 1);
    std::vector<std::string> requests = server.requests();
    ASSERT_FALSE(requests.empty());
    const std::string &last = requests.back();
    EXPECT_NE(last.find("Range: bytes=" + std::to_string(restart_at) + "-"), std::string::npos) << last;
    // The clear text continues from where the new request started.
    const std::string data = consumer_data(consumer);
    const std::string tail = body.substr(static_cast<size_t>(restart_at));
    ASSERT_GE(data.size(), tail.size());
    EXPECT_TRUE(data.compare(data.size() - tail.size(), tail.size(), tail) == 0);
    if (!c.seek) {
      EXPECT_TRUE(data == body.substr(0, static_cast<size_t>(paused_at)) + tail);
    }
    upnp_renderer_free_streaminfo(info);
    EXPECT_EQ(g_fake_wmdrm.finished.load(), 1);
  }
}

TEST(HttpStreamWmdrm, FileStreamsBindAlignAndHandUrlsToTheHttpReceiver) {
  const std::string body = patterned_body(20000);
  test_support::TempDir dir("kestrel-wmdrm");
  const std::string file = (dir.path() / "prot.wma").string();
  test_support::write_file(file, fake_wmdrm_crypt(body));
  CraftedResource resource;
  resource.body = fake_wmdrm_crypt(body);
  TestServer server(crafted_handler(resource));
  const std::string url = server.url("/prot.wma");
  struct Case {
    const char *name;
    bool bind_hook;
    bool refuse;
    bool by_url;
    int64_t offset;
    int result;
    int64_t first_position;  // of the first piece
  };
  const Case cases[] = {
      {"bound file from a block boundary", true, false, false, 0, STREAM_OK, 0},
      {"an offset inside a block starts at the block", true, false, false, 1500, STREAM_OK, 1000},
      {"binding refused", true, true, false, 0, STREAM_FAILED, -1},
      {"a URL goes to the HTTP receiver", true, false, true, 0, STREAM_OK, 0},
      {"a URL without download support is no file", false, false, true, 0, STREAM_FAILED, -1},
  };
  Uninstall uninstall;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    g_fake_wmdrm.install(c.bind_hook);
    g_fake_wmdrm.refuse_bind = c.refuse;
    StreamConsumer consumer;
    g_consumer = &consumer;
    std::vector<char> buffer(3000);
    StreamInfo *info = nullptr;
    const std::string location = c.by_url ? url : file;
    ASSERT_EQ(upnp_renderer_get_file_stream(buffer.data(), 3000, location.c_str(), -1, "audio/x-ms-wma", c.offset, 1,
                                            global_callback, &info),
              c.result);
    if (c.bind_hook) {
      std::lock_guard<std::mutex> hold(g_fake_wmdrm.mutex);
      EXPECT_EQ(g_fake_wmdrm.bound, std::vector<std::string>{location});
    }
    if (c.result != STREAM_OK) {
      EXPECT_EQ(info, nullptr);
      continue;
    }
    ASSERT_TRUE(consumer.wait_end(kWaitMs));
    EXPECT_EQ(consumer.final_code, static_cast<uint32_t>(STREAM_EVENT_END));
    {
      std::lock_guard<std::mutex> hold(consumer.mutex);
      ASSERT_FALSE(consumer.piece_positions.empty());
      EXPECT_EQ(consumer.piece_positions.front(), c.first_position);
    }
    EXPECT_TRUE(consumer_data(consumer) == body.substr(static_cast<size_t>(c.first_position)));
    upnp_renderer_free_streaminfo(info);
    EXPECT_EQ(g_fake_wmdrm.finished.load(), 1);
  }
}

}  // namespace
