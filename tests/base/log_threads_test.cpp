// Several threads logging at once: every line arrives whole, in each thread's
// order, also while the file rotates underneath them.
#include "base/upnp_log.h"
#include "base/upnp_log_rotate.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "support_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kThreads = 6;

struct Counts {
  int lines = 0;
  int torn = 0;
  std::map<int, int> next;  // thread -> next expected line number
  int out_of_order = 0;
};

void scan(const fs::path &file, Counts &counts) {
  static const std::regex line_form(
      "[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}  \\[Info\\] - LOG_HTTP: worker : t([0-9]+) n([0-9]+) (p+) end");
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, line_form)) {
      ++counts.torn;
      continue;
    }
    int thread = std::stoi(m[1].str());
    int number = std::stoi(m[2].str());
    if (m[3].length() != 100 + thread) ++counts.torn;
    if (counts.next[thread] != number) ++counts.out_of_order;
    counts.next[thread] = number + 1;
    ++counts.lines;
  }
}

void run_writers(int lines_per_thread) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, lines_per_thread] {
      std::string payload(static_cast<size_t>(100 + t), 'p');
      for (int n = 0; n < lines_per_thread; ++n) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "worker", "t%d n%d %s end", t, n, payload.c_str());
      }
    });
  }
  for (std::thread &t : threads) t.join();
}

class LogThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    dir_ = test_support::make_temp_dir("kestrel-logmt");
    upnp_log_set_level(LOG_LEVEL_INFO);
    upnp_log_set_sources(LOG_HTTP);
  }
  void TearDown() override {
    for (int i = 0; i < 500 && upnp_log_cleanups_running() > 0; ++i) Sleep(10);
    upnp_log_exit();
    test_support::remove_tree(dir_);
  }
  fs::path dir_;
};

TEST_F(LogThreadsTest, LinesNeverInterleave) {
  fs::path file = dir_ / "threads.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  const int per_thread = 1500;
  run_writers(per_thread);
  upnp_log_flush();
  Counts counts;
  scan(file, counts);
  EXPECT_EQ(counts.torn, 0);
  EXPECT_EQ(counts.out_of_order, 0);
  EXPECT_EQ(counts.lines, kThreads * per_thread);
}

TEST_F(LogThreadsTest, RotationUnderConcurrentWritersLosesNothing) {
  fs::path file = dir_ / "mt-log.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  // About 2.6 MB: two rotations while all threads write (and toggle the
  // forced flush, which is read without the lock).
  const int per_thread = 2500;
  upnp_log_set_force_flush(1);
  std::thread toggler([] {
    for (int i = 0; i < 200; ++i) {
      upnp_log_set_force_flush(i % 2);
      std::this_thread::yield();
    }
  });
  run_writers(per_thread);
  toggler.join();
  upnp_log_set_force_flush(0);
  upnp_log_flush();
  for (int i = 0; i < 500 && upnp_log_cleanups_running() > 0; ++i) Sleep(10);

  std::vector<fs::path> files;
  for (const auto &entry : fs::directory_iterator(dir_)) files.push_back(entry.path());
  std::sort(files.begin(), files.end(), [](const fs::path &a, const fs::path &b) {
    // Parts in rotation order (their names sort by time, then the number
    // given to a second part of the same second), then the current file.
    if (a.filename() == "mt-log.txt") return false;
    if (b.filename() == "mt-log.txt") return true;
    return fs::last_write_time(a) < fs::last_write_time(b);
  });
  EXPECT_GE(files.size(), 3u);
  Counts counts;
  for (const fs::path &f : files) scan(f, counts);
  EXPECT_EQ(counts.torn, 0);
  EXPECT_EQ(counts.out_of_order, 0);
  EXPECT_EQ(counts.lines, kThreads * per_thread);
}

}  // namespace
