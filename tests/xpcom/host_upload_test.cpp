// The terminal mode's upload without a network: lm_dmscp_upload is played
// by this test program (exported from it, found by the host's lookup in
// the running program), pulling blocks on a thread of its own as the
// library's transfer thread does. The whole file goes with progress lines;
// a cancel aborts at the next block and is said with the bytes sent; the
// refusals before anything is sent; results in words.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_upload.h"

namespace {

using Callback = int (*)(uint32_t, void **, uint32_t, char *, uint32_t *);

// What the fake transfer saw; written by its thread before the final call,
// read by the test after the upload returned.
std::mutex g_lock;
std::string g_title, g_protocol, g_body;
uint64_t g_length = 0;

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t lm_dmscp_upload(uint32_t context, void *user,
                                                                          const char *title, const char *protocol,
                                                                          uint32_t block, Callback callback,
                                                                          uint32_t bookmark_size, char *bookmark,
                                                                          uint64_t length) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_title = title;
    g_protocol = protocol;
    g_length = length;
    g_body.clear();
  }
  std::snprintf(bookmark, bookmark_size, "uuid:s,new");
  std::thread([=] {
    void *u = user;
    std::vector<char> buffer(block);
    uint32_t result = 0;
    for (;;) {
      uint32_t n = 0;
      int more = callback(context, &u, block, buffer.data(), &n);
      if (n == 0xFFFFFFFFu) {
        result = 20;
        break;
      }
      {
        std::lock_guard<std::mutex> hold(g_lock);
        g_body.append(buffer.data(), n);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (more == 0) break;
    }
    uint32_t none = 0;
    callback(context, &u, result, nullptr, &none);
  }).detach();  // ends with its final call, which the upload waits for
  return 0;
}

namespace {

uint32_t f_create(uint32_t *c) { *c = 3; return 0; }
uint32_t f_delete(uint32_t) { return 0; }
uint32_t f_bookmark(uint32_t, const char *bm) { return std::strcmp(bm, "uuid:s") == 0 ? 0 : 9; }

struct Fixture {
  std::vector<std::string> said;
  host::Library self;
  host::NmcApi api;
  std::string path = testing::TempDir() + "host_upload_test.mp3";
  std::string body;
  Fixture() {
    self.handle = dlopen(nullptr, RTLD_NOW);
    api.dms_create = f_create;
    api.dms_delete = f_delete;
    api.dms_go_bookmark = f_bookmark;
    for (int k = 0; k < 100000; ++k) body += static_cast<char>('a' + k % 26);
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
  }
  ~Fixture() { std::remove(path.c_str()); }
  std::unique_ptr<host::Uploader> uploader(std::function<bool()> wait) {
    auto u = std::make_unique<host::Uploader>(self, &api, [this](const char *kind, const std::string &text) {
      said.push_back(std::string(kind) + ": " + text);
    }, std::move(wait));
    u->set_block_size(1024);
    u->set_progress_ms(20);
    return u;
  }
  size_t count(const char *prefix) const {
    size_t n = 0;
    for (const std::string &s : said) n += s.rfind(prefix, 0) == 0;
    return n;
  }
};

TEST(HostUpload, TheWholeFileWithProgress) {
  Fixture f;
  auto u = f.uploader([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return false;
  });
  ASSERT_TRUE(u->upload(f.path, "uuid:s", "s1 S"));
  std::lock_guard<std::mutex> hold(g_lock);
  EXPECT_EQ(g_body, f.body);
  EXPECT_EQ(g_length, f.body.size());
  EXPECT_EQ(g_title, "host_upload_test");
  EXPECT_EQ(g_protocol, "http-get:*:audio/mpeg:*");
  EXPECT_GE(f.count("progress: upload "), 2u);
  EXPECT_EQ(f.said.back(), "upload: done: \"host_upload_test\", 100000 bytes in " +
                               f.said.back().substr(f.said.back().find(" in ") + 4, 3) +
                               " s to s1 S (bookmark uuid:s,new)");
}

TEST(HostUpload, ACancelEndsItAtTheNextBlock) {
  Fixture f;
  int calls = 0;
  auto u = f.uploader([&calls] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ++calls == 3;  // Ctrl-C once, while blocks still go
  });
  EXPECT_FALSE(u->upload(f.path, "uuid:s", "s1 S"));
  std::lock_guard<std::mutex> hold(g_lock);
  EXPECT_LT(g_body.size(), f.body.size());
  EXPECT_EQ(f.count("upload: cancelling"), 1u);
  EXPECT_EQ(f.said.back(), "upload: upload of \"host_upload_test\" to s1 S cancelled after " +
                               std::to_string(g_body.size()) + " of 100000 bytes");
}

TEST(HostUpload, RefusedBeforeAnythingIsSent) {
  Fixture f;
  std::string odd = testing::TempDir() + "host_upload_test.xyz";
  std::fclose(std::fopen(odd.c_str(), "wb"));
  auto u = f.uploader([] { return false; });
  EXPECT_FALSE(u->upload("/nonexistent/a.mp3", "uuid:s", "s1 S"));
  EXPECT_FALSE(u->upload(odd, "uuid:s", "s1 S"));
  EXPECT_FALSE(u->upload(f.path, "uuid:gone", "s2 Gone"));
  std::remove(odd.c_str());
  host::Library none;
  host::Uploader without(none, &f.api, [&f](const char *kind, const std::string &text) {
    f.said.push_back(std::string(kind) + ": " + text);
  }, [] { return false; });
  EXPECT_FALSE(without.upload(f.path, "uuid:s", "s1 S"));
  const std::vector<std::string> expected = {
      "error: upload: \"/nonexistent/a.mp3\" is no file that can be read",
      "error: upload: the format of \"" + odd + "\" is not known by its extension (.mp3, .jpg, .mp4, ...)",
      "error: upload to s2 Gone failed: the server cannot be reached: not found: the device or object is gone, or "
      "the bookmark is no longer valid (code 9)",
      "error: upload: this library does not offer it (no lm_dmscp_upload)"};
  EXPECT_EQ(f.said, expected);
}

TEST(HostUpload, ResultsInWords) {
  const struct {
    uint32_t result;
    const char *words;
  } rows[] = {{0, "done"},
              {20, "cancelled"},
              {23, "the connection to the server was lost (code 23)"},
              {24, "the server gave no final answer (code 24)"},
              {403, "the server answered HTTP 403"},
              {708, "the device refused with UPnP error 708"}};
  for (const auto &r : rows) EXPECT_EQ(host::upload_result_words(r.result), r.words) << r.result;
}

}  // namespace
