// The progressive download cache against crafted servers on 127.0.0.1: the
// copy and its block map, resume at the first missing block (after a cut, from
// files left on disk, after the process was killed), seeks ahead, refused
// lengths, and a reader that follows the download.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "http_stream_test_util.h"
#include "http_stream_wmdrm_fake.h"
#include "playlist/upnp_progressive.h"
#include "progressive_test_util.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

using test_support::read_file;
using test_support::TempDir;
using test_support::wait_until;

constexpr int kWaitMs = 20000;

uint32_t state_now() {
  uint32_t state = 0;
  upnp_renderer_progressive_status(nullptr, nullptr, &state);
  return state;
}

bool wait_final_state() {
  return wait_until([] {
    uint32_t s = state_now();
    return s == DOWNLOAD_STATE_COMPLETE || s == DOWNLOAD_STATE_FAILED;
  }, kWaitMs);
}

int start(const std::string &url, const std::string &path) {
  return upnp_renderer_get_progressive_stream(nullptr, 0, url.c_str(), path.c_str(), nullptr, 0, nullptr, nullptr);
}

// Checks the copy and its map once the download is complete.
void expect_complete_copy(const std::string &path, const std::string &original) {
  EXPECT_EQ(state_now(), static_cast<uint32_t>(DOWNLOAD_STATE_COMPLETE));
  const std::string data = read_file(path), map = read_file(path + "_bm");
  EXPECT_TRUE(data == original) << "copy differs (" << data.size() << " of " << original.size() << " bytes)";
  EXPECT_EQ(map, std::string((original.size() + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE, '\1'));
  int64_t position = 0, total = 0;
  upnp_renderer_progressive_status(&position, &total, nullptr);
  EXPECT_EQ(total, static_cast<int64_t>(original.size()));
  EXPECT_EQ(position, total);
}


TEST(Progressive, DownloadsAnEqualCopyWithAFullMap) {
  struct Case {
    const char *name;
    size_t size;
    bool chunked;
    size_t cut_first;        // the first GET closes after this many bytes
    bool resume_by_reader;   // the reader's wait restarts the failed download
    std::vector<long long> ranges;
  };
  const Case cases[] = {
      {"40000 bytes, three blocks", 40000, false, std::string::npos, false, {0}},
      {"exactly two blocks", 2 * DOWNLOAD_BLOCK_SIZE, false, std::string::npos, false, {0}},
      {"chunked answer", 70000, true, std::string::npos, false, {0}},
      {"cut in the second block, started again", 50000, false, 20000, false, {0, 16384}},
      {"cut in the third block, restarted by the reader", 50000, false, 40000, true, {0, 49152, 32768}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("kestrel-progressive");
    const std::string path = (dir.path() / "copy.mp3").string();
    const std::string body = patterned_body(c.size);
    CraftedResource cut, whole;
    cut.body = whole.body = body;
    cut.chunked = whole.chunked = c.chunked;
    cut.chunk = whole.chunk = 7000;
    cut.close_after = c.cut_first;
    std::atomic<int> gets{0};
    TestServer server(staged_handler({cut, whole}, &gets));
    const std::string url = server.url("/media.mp3");
    ASSERT_EQ(start(url, path), STREAM_OK);
    ASSERT_TRUE(wait_final_state());
    if (c.cut_first != std::string::npos) {
      EXPECT_EQ(state_now(), static_cast<uint32_t>(DOWNLOAD_STATE_FAILED));
      if (c.resume_by_reader)
        EXPECT_EQ(wait_for_offset(static_cast<int64_t>(c.size)), 1);
      else
        EXPECT_EQ(start(url, path), STREAM_OK);
      ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_COMPLETE; }, kWaitMs));
    }
    expect_complete_copy(path, body);
    EXPECT_EQ(server.get_ranges(), c.ranges);
    upnp_renderer_cancel_progressive();
    EXPECT_EQ(state_now(), static_cast<uint32_t>(DOWNLOAD_STATE_IDLE));
  }
}

TEST(Progressive, ResumesFromFilesLeftOnDisk) {
  const std::string body = patterned_body(60000);  // blocks 0..3, the last one short
  struct Case {
    const char *name;
    std::string map;
    size_t data_size;
    std::vector<long long> ranges;
  };
  const Case cases[] = {
      {"first block written", std::string("\1\0\0\0", 4), body.size(), {16384}},
      {"a torn map byte counts as missing, written runs are skipped", std::string("\1\2\1\0", 4), body.size(),
       {16384, 49152}},
      {"a hole in the middle", std::string("\1\1\0\1", 4), body.size(), {32768}},
      {"everything written", std::string("\1\1\1\1", 4), body.size(), {0}},
      {"data file of another length: fetched anew", std::string("\1\1\1\1", 4), 50000, {0}},
      {"map of another length: fetched anew", std::string("\1\1\1", 3), body.size(), {0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("kestrel-progressive");
    const std::string path = (dir.path() / "copy.mp3").string();
    // Written blocks hold the original, all others bytes it never has.
    std::string data(c.data_size, '\xAA');
    for (size_t b = 0; b < c.map.size(); b++)
      if (c.map[b] == 1 && b * DOWNLOAD_BLOCK_SIZE < data.size())
        data.replace(b * DOWNLOAD_BLOCK_SIZE, std::min<size_t>(DOWNLOAD_BLOCK_SIZE, data.size() - b * DOWNLOAD_BLOCK_SIZE),
                     body, b * DOWNLOAD_BLOCK_SIZE, DOWNLOAD_BLOCK_SIZE);
    test_support::write_file(path, data);
    test_support::write_file(path + "_bm", c.map);
    CraftedResource resource;
    resource.body = body;
    TestServer server(crafted_handler(resource));
    ASSERT_EQ(start(server.url("/media.mp3"), path), STREAM_OK);
    ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_COMPLETE; }, kWaitMs));
    expect_complete_copy(path, body);
    EXPECT_EQ(server.get_ranges(), c.ranges);
    upnp_renderer_cancel_progressive();
  }
}

TEST(Progressive, RefusesLongUrlsUnknownAndAbsurdLengths) {
  TempDir dir("kestrel-progressive");
  const std::string path = (dir.path() / "copy.mp3").string();
  // A URL above the bound is refused before anything is fetched.
  const std::string long_url = "http://127.0.0.1/" + std::string(DOWNLOAD_MAX_TEXT, 'a');
  EXPECT_EQ(start(long_url, path), STREAM_MISSING_ARGUMENT);
  struct Server {
    const char *name;
    std::string answer;  // to HEAD and GET alike
  };
  const Server servers[] = {
      {"no length anywhere", "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nConnection: close\r\n\r\n"},
      {"1 TB announced",
       "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 1000000000000\r\nConnection: close\r\n\r\n"},
  };
  for (const Server &s : servers) {
    SCOPED_TRACE(s.name);
    TestServer server([&s](TestServer &, int fd, const std::string &) {
      TestServer::send_all(fd, s.answer + std::string(20000, 'x'));
    });
    ASSERT_EQ(start(server.url("/media.mp3"), path), STREAM_OK);
    ASSERT_TRUE(wait_final_state());
    EXPECT_EQ(state_now(), static_cast<uint32_t>(DOWNLOAD_STATE_FAILED));
    struct stat st;
    EXPECT_TRUE(stat(path.c_str(), &st) != 0 || st.st_size == 0) << "data file sized anyway";
    upnp_renderer_cancel_progressive();
  }
}

TEST(Progressive, AnotherDownloadWhileBusyIsRefused) {
  TempDir dir("kestrel-progressive");
  const std::string body = patterned_body(400000);
  TestServer server(paced_handler(body, 4096, 2000));
  const std::string path = (dir.path() / "copy.mp3").string();
  ASSERT_EQ(start(server.url("/media.mp3"), path), STREAM_OK);
  EXPECT_EQ(start(server.url("/other.mp3"), (dir.path() / "other.mp3").string()), STREAM_FAILED);
  // The same download asked for again goes on.
  ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_DOWNLOADING; }, kWaitMs));
  EXPECT_EQ(start(server.url("/media.mp3"), path), STREAM_OK);
  // A wait beyond the end waits for the last byte.
  EXPECT_EQ(wait_for_offset(static_cast<int64_t>(body.size()) + 100000), 1);
  int64_t position = 0;
  upnp_renderer_progressive_status(&position, nullptr, nullptr);
  EXPECT_EQ(position, static_cast<int64_t>(body.size()));
  ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_COMPLETE; }, kWaitMs));
  expect_complete_copy(path, body);
  EXPECT_EQ(server.get_ranges().size(), 1u);
  upnp_renderer_cancel_progressive();
}

TEST(Progressive, SeeksAheadRestartAtTheirBlockAndTheRestFollows) {
  TempDir dir("kestrel-progressive");
  const std::string body = patterned_body(600000);
  TestServer server(paced_handler(body, 1024, 5000));  // about 0.2 MB/s: a second before 200000
  const std::string path = (dir.path() / "copy.mp3").string();
  ASSERT_EQ(start(server.url("/media.mp3"), path), STREAM_OK);
  ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_DOWNLOADING; }, kWaitMs));
  // Two seeks at once: one restart at a time, both served. Either block is
  // still missing when its seek comes (the download is slow enough).
  std::thread other([] { EXPECT_EQ(DownloadRestartInternal(200000), STREAM_OK); });
  EXPECT_EQ(DownloadRestartInternal(500000), STREAM_OK);
  other.join();
  ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_COMPLETE; }, kWaitMs));
  expect_complete_copy(path, body);
  std::vector<long long> ranges = server.get_ranges();
  ASSERT_GE(ranges.size(), 3u);
  EXPECT_EQ(ranges[0], 0);
  for (long long r : ranges) EXPECT_EQ(r % DOWNLOAD_BLOCK_SIZE, 0);
  EXPECT_NE(std::find(ranges.begin(), ranges.end(), 200000 / DOWNLOAD_BLOCK_SIZE * DOWNLOAD_BLOCK_SIZE), ranges.end());
  EXPECT_NE(std::find(ranges.begin(), ranges.end(), 500000 / DOWNLOAD_BLOCK_SIZE * DOWNLOAD_BLOCK_SIZE), ranges.end());
  upnp_renderer_cancel_progressive();
}

// The reader's pieces are checked against the original as they come.
StreamConsumer *g_reader = nullptr;
int reader_callback(uint32_t count, StreamInfo *info) {
  info->context = g_reader;
  return stream_consumer_callback(count, info);
}

TEST(Progressive, AReaderFollowingTheDownloadReadsOnlyWrittenBytes) {
  const std::string body = patterned_body(300000);
  struct Case {
    const char *name;
    int64_t offset;
  };
  const Case cases[] = {{"from the start", 0}, {"from an offset inside a block", 100000}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("kestrel-progressive");
    TestServer server(paced_handler(body, 2048, 1000));
    StreamConsumer reader;
    std::atomic<int> wrong{0};
    reader.hook = [&](uint32_t code, uint32_t count, StreamInfo *info, int64_t position) {
      if (code == STREAM_EVENT_DATA && body.compare(static_cast<size_t>(position), count, info->buffer, count) != 0)
        wrong++;
      return false;
    };
    g_reader = &reader;
    std::vector<char> buffer(4096);
    StreamInfo *handle = nullptr;
    ASSERT_EQ(upnp_renderer_get_progressive_stream(buffer.data(), static_cast<uint32_t>(buffer.size()),
                                                   server.url("/media.mp3").c_str(),
                                                   (dir.path() / "copy.mp3").c_str(), "audio/mpeg", c.offset,
                                                   reader_callback, &handle),
              STREAM_OK);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(reader.wait_end(kWaitMs));
    EXPECT_EQ(reader.final_code, static_cast<uint32_t>(STREAM_EVENT_END));
    EXPECT_EQ(wrong.load(), 0);
    {
      std::lock_guard<std::mutex> hold(reader.mutex);
      EXPECT_TRUE(reader.data == body.substr(static_cast<size_t>(c.offset)));
    }
    upnp_renderer_free_streaminfo(handle);
    upnp_renderer_cancel_progressive();
  }
}

TEST(Progressive, ProtectedContentIsBoundFirstAndTheReaderDecrypts) {
  const std::string body = patterned_body(120000);
  struct Case {
    const char *name;
    bool refuse;
    int result;
  };
  const Case cases[] = {{"binding refused", true, STREAM_FAILED}, {"bound", false, STREAM_OK}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    g_fake_wmdrm.install(true);
    g_fake_wmdrm.refuse_bind = c.refuse;
    TempDir dir("kestrel-progressive");
    TestServer server(paced_handler(fake_wmdrm_crypt(body), 4096, 1000));
    const std::string url = server.url("/prot.wma");
    StreamConsumer reader;
    g_reader = &reader;
    std::vector<char> buffer(4096);
    StreamInfo *handle = nullptr;
    EXPECT_EQ(upnp_renderer_get_progressive_stream(buffer.data(), static_cast<uint32_t>(buffer.size()), url.c_str(),
                                                   (dir.path() / "prot.wma").c_str(), "audio/x-ms-wma", 0,
                                                   reader_callback, &handle),
              c.result);
    {
      std::lock_guard<std::mutex> hold(g_fake_wmdrm.mutex);
      EXPECT_EQ(g_fake_wmdrm.bound, std::vector<std::string>{url});
    }
    if (c.result == STREAM_OK) {
      ASSERT_NE(handle, nullptr);
      ASSERT_TRUE(reader.wait_end(kWaitMs));
      EXPECT_EQ(reader.final_code, static_cast<uint32_t>(STREAM_EVENT_END));
      std::lock_guard<std::mutex> hold(reader.mutex);
      EXPECT_TRUE(reader.data == body);
      EXPECT_EQ(server.get_ranges().size(), 1u);  // the download itself is kept as it came
    } else {
      EXPECT_EQ(handle, nullptr);
      EXPECT_TRUE(server.get_ranges().empty());
    }
    if (handle) upnp_renderer_free_streaminfo(handle);
    upnp_renderer_cancel_progressive();
    FakeWmdrm::uninstall();
  }
}

TEST(Progressive, AKilledDownloadMarksOnlyTrueBlocksAndResumes) {
  TempDir dir("kestrel-progressive");
  const std::string body = patterned_body(3000000);  // 184 blocks
  TestServer server(paced_handler(body, 4096, 2000));
  const std::string url = server.url("/media.mp3");
  const std::string path = (dir.path() / "copy.mp3").string();
  size_t marked_before = 0;
  // Each run is killed once the map on disk grew, a little later each time,
  // so that the kill falls somewhere between blocks.
  for (int extra_ms : {0, 7, 23}) {
    SCOPED_TRACE(extra_ms);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      execl(PROGRESSIVE_CHILD, PROGRESSIVE_CHILD, url.c_str(), path.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    const size_t want = marked_before + 16;
    EXPECT_TRUE(wait_until([&] {
      const std::string map = read_file(path + "_bm");
      return static_cast<size_t>(std::count(map.begin(), map.end(), '\1')) >= want;
    }, kWaitMs, 2));
    usleep(static_cast<useconds_t>(extra_ms) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string data = read_file(path), map = read_file(path + "_bm");
    EXPECT_EQ(wrongly_marked_blocks(data, map, body), 0);
    size_t marked = static_cast<size_t>(std::count(map.begin(), map.end(), '\1'));
    EXPECT_GE(marked, marked_before) << "a run lost blocks of the run before";
    marked_before = marked;
  }
  ASSERT_GT(marked_before, 0u);
  ASSERT_LT(marked_before, (body.size() + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE);
  // Resumed here: the first request starts at the first missing block.
  const std::string map = read_file(path + "_bm");
  const long long first_missing = static_cast<long long>(map.find('\0')) * DOWNLOAD_BLOCK_SIZE;
  const size_t before = server.get_ranges().size();
  ASSERT_EQ(start(url, path), STREAM_OK);
  ASSERT_TRUE(wait_until([] { return state_now() == DOWNLOAD_STATE_COMPLETE; }, kWaitMs));
  expect_complete_copy(path, body);
  std::vector<long long> ranges = server.get_ranges();
  ASSERT_GT(ranges.size(), before);
  EXPECT_EQ(ranges[before], first_missing);
  upnp_renderer_cancel_progressive();
}

}  // namespace
