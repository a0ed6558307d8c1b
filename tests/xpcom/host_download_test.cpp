// The terminal mode's download without a network: lm_nmc_download_uri is
// played by this test program (exported from it, found by the host's
// lookup in the running program), handing pieces on a thread of its own as
// the library's receiver does. The whole resource arrives under its name
// with progress lines; a cancel leaves neither the file nor its part file,
// also when the server stalls; a cut-off stream keeps nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_download.h"

namespace {

using Callback = int (*)(uint32_t, void **, const char *, const char *, uint32_t);

// How the fake stream behaves: pieces of 1000 bytes, `pieces` of them,
// then its final result; a stall keeps it from sending after `pieces`
// until released. Set by a test before its download.
std::atomic<int> g_pieces{50};
std::atomic<uint32_t> g_final{0};
std::atomic<bool> g_stall{false};
std::atomic<bool> g_release{false};
std::atomic<int> g_calls_after_stop{0};

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t lm_nmc_download_uri(uint32_t context, void *user,
                                                                              const char *url, const char *,
                                                                              uint32_t, Callback callback) {
  if (std::string(url).rfind("http://", 0) != 0) return 2;
  std::string where = url;
  std::thread([=] {
    void *u = user;
    std::string piece(1000, 'x');
    for (int k = 0; k < g_pieces.load(); ++k) {
      piece[0] = static_cast<char>('a' + k % 26);
      std::this_thread::sleep_for(std::chrono::milliseconds(4));
      if (callback(context, &u, where.c_str(), piece.data(), 1000) == 0) return;  // stopped: no further call
    }
    if (g_stall.load()) {
      while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      // The stream resumes after the cancel: its piece is refused.
      if (callback(context, &u, where.c_str(), piece.data(), 1000) == 0) return;
      g_calls_after_stop.fetch_add(1);
    }
    callback(context, &u, where.c_str(), nullptr, g_final.load());
  }).detach();  // ends with its final call or a refused piece
  return 0;
}

namespace {

bool exists(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

struct Fixture {
  std::vector<std::string> said;
  host::Library self;
  // One file per test and process: ctest runs these tests side by side.
  std::string path = testing::TempDir() + "host_download_test_" +
                     testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                     std::to_string(getpid()) + ".mp3";
  Fixture() {
    self.handle = dlopen(nullptr, RTLD_NOW);
    std::remove(path.c_str());
    std::remove((path + ".part").c_str());
    g_pieces = 50;
    g_final = 0;
    g_stall = false;
    g_release = false;
  }
  ~Fixture() {
    std::remove(path.c_str());
    dlclose(self.handle);
  }
  host::Downloader downloader(std::function<bool()> wait) {
    host::Downloader d(self, [this](const char *kind, const std::string &text) {
      said.push_back(std::string(kind) + ": " + text);
    }, std::move(wait));
    d.set_progress_ms(20);
    return d;
  }
  size_t count(const char *prefix) const {
    size_t n = 0;
    for (const std::string &s : said) n += s.rfind(prefix, 0) == 0;
    return n;
  }
  static host::BrowseEntry item() {
    host::BrowseEntry e;
    e.title = "Tone";
    e.url = "http://127.0.0.1:1/tone.mp3";
    return e;
  }
};

bool a_while() {
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return false;
}

TEST(HostDownload, TheWholeResourceWithProgress) {
  Fixture f;
  auto d = f.downloader(a_while);
  ASSERT_TRUE(d.download(Fixture::item(), 50000, f.path));
  std::ifstream in(f.path, std::ios::binary);
  std::stringstream body;
  body << in.rdbuf();
  ASSERT_EQ(body.str().size(), 50000u);
  EXPECT_EQ(body.str()[0], 'a');
  EXPECT_EQ(body.str()[49000], 'a' + 49 % 26);
  EXPECT_FALSE(exists(f.path + ".part"));
  ASSERT_GE(f.count("progress: download "), 2u);
  for (const std::string &s : f.said) {
    if (s.rfind("progress: ", 0) == 0) {
      EXPECT_NE(s.find(" of 50000 bytes, "), std::string::npos) << s;
    }
  }
  EXPECT_EQ(f.said.back().rfind("download: done: \"Tone\", 50000 bytes in ", 0), 0u) << f.said.back();
}

TEST(HostDownload, ASizeNotKnownShowsBytesAndRate) {
  Fixture f;
  auto d = f.downloader(a_while);
  ASSERT_TRUE(d.download(Fixture::item(), 0, f.path));
  ASSERT_GE(f.count("progress: download "), 1u);
  const std::string &first = f.said[1];
  EXPECT_EQ(first.find(" of "), std::string::npos) << first;
  EXPECT_NE(first.find(" bytes, "), std::string::npos) << first;
}

TEST(HostDownload, ACancelKeepsNothingEvenFromAStalledServer) {
  for (bool stall : {false, true}) {
    SCOPED_TRACE(stall ? "stalled" : "flowing");
    Fixture f;
    g_stall = stall;
    g_pieces = stall ? 5 : 500;
    int calls = 0;
    auto d = f.downloader([&calls, stall] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return ++calls == (stall ? 20 : 4);  // Ctrl-C once
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(d.download(Fixture::item(), 500000, f.path));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
    EXPECT_FALSE(exists(f.path));
    EXPECT_FALSE(exists(f.path + ".part"));
    EXPECT_NE(f.said.back().find("cancelled after "), std::string::npos) << f.said.back();
    EXPECT_NE(f.said.back().find("; the part file was removed"), std::string::npos) << f.said.back();
    g_release = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the stream's thread sees the refusal
    EXPECT_EQ(g_calls_after_stop.load(), 0);
  }
}

TEST(HostDownload, RefusalsAndFailuresKeepNothing) {
  Fixture f;
  auto d = f.downloader(a_while);
  g_final = 14;
  EXPECT_FALSE(d.download(Fixture::item(), 0, f.path));
  EXPECT_EQ(f.said.back(), "error: download of \"Tone\" failed after 50000 bytes: the server's stream failed or "
                           "was cut off (code 14); nothing was kept");
  EXPECT_FALSE(exists(f.path));
  EXPECT_FALSE(exists(f.path + ".part"));
  host::BrowseEntry rtsp = Fixture::item();
  rtsp.url = "rtsp://127.0.0.1/x";
  EXPECT_FALSE(d.download(rtsp, 0, f.path));
  EXPECT_EQ(f.said.back(), "error: download of \"Tone\" refused: its resource is no HTTP URL (rtsp://127.0.0.1/x)");
  std::fclose(std::fopen(f.path.c_str(), "wb"));
  EXPECT_FALSE(d.download(Fixture::item(), 0, f.path));
  EXPECT_EQ(f.said.back(), "error: download: \"" + f.path + "\" exists already; give another file name");
  host::BrowseEntry folder = Fixture::item();
  folder.container = true;
  EXPECT_FALSE(d.download(folder, 0, f.path + "2"));
  EXPECT_EQ(f.said.back(), "error: download: \"Tone\" is a container; only items can be downloaded");
}

TEST(HostDownload, FileNamesFromTitleAndUrl) {
  const struct {
    const char *title, *url, *name;
  } rows[] = {{"Tone", "http://h/a/t.mp3", "Tone.mp3"},
              {"Tone.flac", "http://h/a/t.mp3", "Tone.flac"},
              {"AC/DC", "http://h/a/t.mp3?x=1.2", "AC_DC.mp3"},
              {"", "http://h/a/noext", "download"},
              {"..", "http://h/a.dir/file", "download"}};
  for (const auto &r : rows) EXPECT_EQ(host::download_file_name(r.title, r.url), r.name) << r.title;
}

}  // namespace
