// Uploads into the lab's rygel (a lab of its own with LAB_RYGEL=1, run
// through tests/lab/lab.sh): audio, picture and video files with and without
// an announced length land in rygel's upload folder byte-exact, titles with
// "&", "<" and non-ASCII text come back intact through the new object's
// bookmark, server contexts hear of the change, and minidlna, which takes no
// uploads, answers CreateObject with its error before any transfer starts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/upnp_thread.h"
#include "cp_lab_util.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_test_util.h"
#include "playlist/lm_dmscp_upload.h"
#include "support_files.h"
#include "support_wait.h"

namespace {

using test_support::wait_until;

// The application's side: a file's bytes in blocks, then the final call.
struct FileFeed {
  std::string data;
  size_t pos = 0;
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<uint32_t> finals;

  static int callback(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
    FileFeed &f = *static_cast<FileFeed *>(*user);
    std::lock_guard<std::mutex> hold(f.mutex);
    if (buffer == nullptr) {
      f.finals.push_back(size);
      f.cv.notify_all();
      return 0;
    }
    size_t n = std::min<size_t>(size, f.data.size() - f.pos);
    f.data.copy(buffer, n, f.pos);
    f.pos += n;
    *length = static_cast<uint32_t>(n);
    return f.pos < f.data.size() ? 1 : 0;
  }
  uint32_t final_result() {
    std::unique_lock<std::mutex> hold(mutex);
    if (!cv.wait_for(hold, std::chrono::seconds(60), [this] { return !finals.empty(); })) return 0xDEAD;
    return finals[0];
  }
};

std::atomic<int> g_updates{0};
void on_server(uint32_t, uint32_t code, const char *) {
  if (code == 1) ++g_updates;
}

std::string get(uint32_t context, const char *key) {
  char buffer[4096];
  lm_nmc_result_t rc = lm_dmscp_extract_metadata(context, key, 0, sizeof buffer, buffer);
  return rc == 0 ? std::string(buffer) : "error " + std::to_string(rc);
}

class UploadLabTest : public nmc_test::NmcTest {
 protected:
  void SetUp() override {
    if (!cp_lab::inside_lab() || cp_lab::env("LAB_RYGEL") != "1") GTEST_SKIP() << "not inside a lab with rygel";
    NmcTest::SetUp();
    nmc_set_network(1);
    ASSERT_EQ(start(), 1);
    rygel_ = cp_lab::env("LAB_RYGEL_SERVER_UDN");
    ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, rygel_.c_str(), nullptr); }, 20000));
  }
  void TearDown() override {
    if (cp_lab::inside_lab() && cp_lab::env("LAB_RYGEL") == "1") NmcTest::TearDown();
  }
  uint32_t context_on(const std::string &udn) {
    uint32_t c = 0;
    EXPECT_EQ(lm_dmscp_create_context(&c), 0u);
    EXPECT_EQ(lm_dmscp_go_bookmark(c, (udn + ",0").c_str()), 0u);
    return c;
  }
  std::string rygel_;
};

TEST_F(UploadLabTest, FilesLandByteExactWithTheirTitles) {
  const std::string media = cp_lab::env("LAB_MEDIA");
  const std::filesystem::path folder = cp_lab::env("LAB_RYGEL_UPLOAD");
  struct Case {
    std::string file, protocol_info, title;
    bool announce;
  };
  const std::vector<Case> cases = {
      {"music/Alpha Artist/First Album/01 - First Song.mp3", "http-get:*:audio/mpeg:*",
       "Up & <Song> Caf\xC3\xA9", true},
      {"music/Alpha Artist/First Album/02 - Rock and Roll.mp3", "http-get:*:audio/mpeg:*", "Chunked \xC3\x9C song",
       false},
      {"pictures/photo4.jpg", "http-get:*:image/jpeg:*", "Picture & <more>", true},
      {"video/clip.avi", "http-get:*:video/x-msvideo:*", "Clip \xE2\x98\x85", false},
  };
  uint32_t watcher = context_on(rygel_);
  ASSERT_EQ(lm_dmscp_register_callback(watcher, on_server), 0u);
  ASSERT_EQ(lm_dmscp_go_directory(watcher), 0u);
  const int updates_before = g_updates.load();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    FileFeed feed;
    feed.data = test_support::read_file(media + "/" + c.file);
    ASSERT_FALSE(feed.data.empty());
    uint32_t context = context_on(rygel_);
    char bookmark[1024];
    auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(lm_dmscp_upload(context, &feed, c.title.c_str(), c.protocol_info.c_str(), 65536, FileFeed::callback,
                              sizeof bookmark, bookmark, c.announce ? feed.data.size() : 0),
              0u);
    EXPECT_EQ(feed.final_result(), 0u);
    std::printf("upload of %zu bytes (%s) took %.1f s\n", feed.data.size(), c.announce ? "with length" : "chunked",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    // Byte-exact in the upload folder.
    bool found = false;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
      if (test_support::read_file(entry.path().string()) == feed.data) found = true;
    EXPECT_TRUE(found) << "no copy in " << folder;
    // The new object's bookmark brings a fresh context to it.
    uint32_t fresh = 0;
    ASSERT_EQ(lm_dmscp_create_context(&fresh), 0u);
    EXPECT_EQ(lm_dmscp_go_bookmark(fresh, bookmark), 0u) << bookmark;
    EXPECT_EQ(get(fresh, "Title"), c.title) << bookmark;
    lm_dmscp_delete_context(fresh);
    lm_dmscp_delete_context(context);
  }
  // rygel's ContentDirectory events reach the server contexts as updates.
  EXPECT_TRUE(wait_until([&] { return g_updates.load() > updates_before; }, 15000));
  lm_dmscp_delete_context(watcher);
}

TEST_F(UploadLabTest, MinidlnaRefusesCreateObjectBeforeAnyTransfer) {
  const std::string udn = cp_lab::env("LAB_SERVER_UDN");
  ASSERT_TRUE(wait_until([&] { return nmc_devices_find_udn(NMC_SIDE_SERVER, udn.c_str(), nullptr); }, 20000));
  uint32_t context = context_on(udn);
  FileFeed feed;
  feed.data = "x";
  char bookmark[256] = "old";
  lm_nmc_result_t rc = lm_dmscp_upload(context, &feed, "t", "http-get:*:audio/mpeg:*", 0, FileFeed::callback,
                                       sizeof bookmark, bookmark, 1);
  EXPECT_NE(rc, 0u);
  EXPECT_STREQ(bookmark, "");
  Sleep(500);
  std::lock_guard<std::mutex> hold(feed.mutex);
  EXPECT_TRUE(feed.finals.empty());
  EXPECT_EQ(feed.pos, 0u);
}

}  // namespace
