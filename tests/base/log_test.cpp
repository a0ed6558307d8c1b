// The logger: filter table, line formats, the critical path, rotation and the
// clean-up of old parts.
#include "base/upnp_exit.h"
#include "base/upnp_log.h"
#include "base/upnp_log_rotate.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "support_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::atomic<int> g_handler_calls{0};
std::atomic<int> g_handler_level{-1};
std::atomic<int> g_exit_calls{0};
std::atomic<int> g_exit_status{-1};

// The application's critical handler; it also says so on standard error so
// that a child process that ends can show it ran.
void critical_handler(int level) {
  g_handler_calls.fetch_add(1);
  g_handler_level.store(level);
  std::fprintf(stderr, "critical handler %d\n", level);
  std::fflush(stderr);
}

void exit_function(int status) {
  g_exit_calls.fetch_add(1);
  g_exit_status.store(status);
}

using test_support::read_file;

std::vector<std::string> part_files(const fs::path &dir, const std::string &current) {
  std::vector<std::string> parts;
  for (const auto &entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.size() > 8 && name.compare(name.size() - 8, 8, "-log.txt") == 0 &&
        name != current) {
      parts.push_back(name);
    }
  }
  return parts;
}

void wait_for_cleanups() {
  for (int i = 0; i < 500 && upnp_log_cleanups_running() > 0; ++i) Sleep(10);
}

const std::string kTime = "[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} ";

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    upnp_log_register_critical_error_handler(critical_handler);
    dir_ = test_support::make_temp_dir("kestrel-log");
    upnp_log_set_level(0);
    upnp_log_set_sources(0);
    upnp_log_enable(1);
    g_handler_calls = 0;
    g_exit_calls = 0;
  }
  void TearDown() override {
    wait_for_cleanups();
    upnp_log_exit();
    register_upnp_exit_function(nullptr);
    test_support::remove_tree(dir_);
  }
  // Logs lines of `line_bytes` (info, LOG_SYSTEM, no function name) until
  // the file has received at least `total` bytes.
  void log_bytes(long total, int line_bytes = 1000) {
    // Timestamp (13), blank, "[Info]", " - ", "LOG_SYSTEM", ": ", line feed.
    std::string payload(static_cast<size_t>(line_bytes) - 36, 'x');
    for (long written = 0; written < total; written += line_bytes) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "%s", payload.c_str());
    }
  }
  fs::path dir_;
};

TEST_F(LogTest, FilterTable) {
  upnp_log_set_sources(0);
  for (int level = 0; level <= 5; ++level) {
    upnp_log_set_level(level);
    EXPECT_EQ(upnp_log_to_appender(4, LOG_HTTP), 0) << level;
    EXPECT_EQ(upnp_log_to_appender(5, LOG_HTTP), 1) << level;
  }
  upnp_log_set_sources(LOG_HTTP);
  upnp_log_set_level(2);
  EXPECT_EQ(upnp_log_to_appender(2, LOG_HTTP), 1);
  EXPECT_EQ(upnp_log_to_appender(4, LOG_HTTP), 1);
  EXPECT_EQ(upnp_log_to_appender(1, LOG_HTTP), 0);
  EXPECT_EQ(upnp_log_to_appender(2, LOG_SSDP), 0);
  EXPECT_EQ(upnp_log_to_appender(4, LOG_SSDP), 0);
  EXPECT_EQ(upnp_log_to_appender(5, LOG_SSDP), 1);
  EXPECT_EQ(upnp_log_enabled(LOG_HTTP), 1);
  EXPECT_EQ(upnp_log_enabled(LOG_SSDP), 0);
  EXPECT_EQ(upnp_log_get_sources(), static_cast<unsigned>(LOG_HTTP));
  EXPECT_EQ(upnp_log_get_level(), 2);
}

TEST_F(LogTest, LevelAndSourceNames) {
  const char *levels[] = {"[Debug]", "[Trace]", "[Info]", "[Warning]", "[Error]", "[Critical]"};
  for (int level = 0; level <= 5; ++level) EXPECT_STREQ(upnp_log_level_name(level), levels[level]);
  EXPECT_STREQ(upnp_log_level_name(6), "?");
  EXPECT_STREQ(upnp_log_level_name(-1), "?");
  const char *sources[] = {"LOG_SYSTEM", "LOG_SSDP", "LOG_DB", "LOG_HTTP", "LOG_CLIENT_DB", "LOG_EVENTING", "LOG_XML",
                           "LOG_PLUGIN", "LOG_SCAN", "LOG_RMEDIA", "LOG_MEDIAFUSION", "LOG_CGI", "LOG_LINKPROT"};
  for (unsigned bit = 0; bit < 13; ++bit) EXPECT_STREQ(upnp_log_source_name(1u << bit), sources[bit]);
  EXPECT_STREQ(upnp_log_source_name(8192), "?");
  EXPECT_STREQ(upnp_log_source_name(LOG_HTTP | LOG_SSDP), "?");
  EXPECT_STREQ(upnp_log_source_name(0), "?");
}

TEST_F(LogTest, FileLineFormats) {
  fs::path file = dir_ / "sub" / "plain.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  char *name = upnp_log_get_filename();
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), file.string());
  upnp_free_impl(name);

  upnp_log_set_sources(LOG_HTTP | LOG_SSDP);
  upnp_log_set_level(LOG_LEVEL_INFO);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_send", "value %d of %s", 42, "x");
  upnp_log_impl(LOG_LEVEL_WARNING, LOG_SSDP, nullptr, "plain");
  upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, "HTTP_send", "below the threshold");
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_XML, "xml", "source not enabled");
  // A caller passing no format at all (through a plain pointer, which
  // carries no format checking).
  void (*log)(int, unsigned int, const char *, const char *, ...) = upnp_log_impl;
  log(LOG_LEVEL_ERROR, LOG_HTTP, "f", nullptr);
  upnp_log_flush();

  std::string text = read_file(file);
  std::regex expected(kTime + " \\[Info\\] - LOG_HTTP: HTTP_send : value 42 of x\n" + kTime +
                      " \\[Warning\\] - LOG_SSDP: plain\n" + kTime + " \\[Error\\] - LOG_HTTP: f : strMessage = NULL!\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogTest, DisabledLoggerWritesNoFileLines) {
  fs::path file = dir_ / "quiet.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  upnp_log_set_sources(LOG_SYSTEM);
  upnp_log_enable(0);
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, nullptr, "dropped");
  upnp_log_enable(1);
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, nullptr, "kept");
  upnp_log_flush();
  std::string text = read_file(file);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
  EXPECT_NE(text.find("kept"), std::string::npos);
}

TEST_F(LogTest, AppendsToAnExistingFileAndClears) {
  fs::path file = dir_ / "old.txt";
  std::ofstream(file) << "earlier line\n";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  upnp_log_set_sources(LOG_SYSTEM);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "later line");
  upnp_log_flush();
  std::string text = read_file(file);
  EXPECT_EQ(text.rfind("earlier line\n", 0), 0u);
  EXPECT_NE(text.find("later line"), std::string::npos);

  upnp_log_clear();
  EXPECT_EQ(read_file(file), "");
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "after clearing");
  upnp_log_flush();
  EXPECT_NE(read_file(file).find("after clearing"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileIsReported) {
  fs::path blocker = dir_ / "blocker";
  std::ofstream(blocker) << "a file, not a folder";
  testing::internal::CaptureStdout();
  EXPECT_EQ(upnp_log_init((blocker / "x-log.txt").c_str()), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "can't open log file (" + (blocker / "x-log.txt").string() + ")\n");
  EXPECT_EQ(upnp_log_get_filename(), nullptr);
}

TEST_F(LogTest, CriticalWithExitFunctionReturns) {
  fs::path file = dir_ / "crit.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  register_upnp_exit_function(exit_function);
  upnp_log_set_sources(0);
  testing::internal::CaptureStdout();
  upnp_log_impl(LOG_LEVEL_CRITICAL, LOG_SSDP, "SSDP_start", "no socket %d", 7);
  std::string console = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(console, std::regex(kTime + " \\[Critical\\] - LOG_SSDP:SSDP_start : no socket 7\n")))
      << console;
  EXPECT_EQ(g_handler_calls.load(), 1);
  EXPECT_EQ(g_handler_level.load(), 5);
  EXPECT_EQ(g_exit_calls.load(), 1);
  EXPECT_EQ(g_exit_status.load(), 0);
  upnp_log_flush();
  std::string text = read_file(file);
  EXPECT_TRUE(std::regex_match(text, std::regex(kTime + " \\[Critical\\] - LOG_SSDP: SSDP_start : no socket 7\n")))
      << text;
}

TEST_F(LogTest, CriticalWithoutExitFunctionEndsProcessAfterHandler) {
  EXPECT_EXIT(
      {
        register_upnp_exit_function(nullptr);
        upnp_log_impl(LOG_LEVEL_CRITICAL, LOG_SYSTEM, "main", "fatal");
        std::fprintf(stderr, "still running\n");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "critical handler 5");
}

TEST_F(LogTest, HandlerRegistrationKeepsTheFirst) {
  upnp_log_register_critical_error_handler(exit_function);  // ignored: one is registered
  register_upnp_exit_function(exit_function);
  testing::internal::CaptureStdout();
  upnp_log_impl(LOG_LEVEL_CRITICAL, LOG_SYSTEM, nullptr, "x");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(g_handler_calls.load(), 1);
  EXPECT_EQ(g_exit_calls.load(), 1);
}

TEST(LogPartName, StampReplacesColonsAndT) {
  struct tm when = {};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 8;
  when.tm_hour = 7;
  when.tm_min = 5;
  when.tm_sec = 9;
  EXPECT_EQ(upnp_log_part_name("/var/log/x-log.txt", when), "/var/log/x-2026-12-08-07-05-09-log.txt");
  EXPECT_TRUE(upnp_log_is_rotating_name("a-log.txt"));
  EXPECT_FALSE(upnp_log_is_rotating_name("a.log"));
}

TEST_F(LogTest, FileWithoutRotatingNameGrowsPastTheLimit) {
  fs::path file = dir_ / "big.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  upnp_log_set_sources(LOG_SYSTEM);
  log_bytes(UPNP_LOG_ROTATE_SIZE + 20000);
  upnp_log_flush();
  EXPECT_GT(fs::file_size(file), static_cast<uintmax_t>(UPNP_LOG_ROTATE_SIZE));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(LogTest, RotatesAtTheLimitIntoATimeStampedPart) {
  fs::path file = dir_ / "x-log.txt";
  // The size already in the file counts towards the limit.
  std::ofstream(file) << std::string(UPNP_LOG_ROTATE_SIZE - 500, 'o') << '\n';
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  upnp_log_set_sources(LOG_SYSTEM);
  std::time_t before = std::time(nullptr);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "%s", std::string(300, 'a').c_str());
  EXPECT_TRUE(part_files(dir_, "x-log.txt").empty());
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "%s", std::string(300, 'b').c_str());
  std::time_t after = std::time(nullptr);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "first line of the new file");
  upnp_log_flush();

  std::vector<std::string> parts = part_files(dir_, "x-log.txt");
  ASSERT_EQ(parts.size(), 1u);
  // The part's name is the local time of the rotation.
  bool stamp_matches = false;
  for (std::time_t t = before; t <= after; ++t) {
    struct tm local;
    localtime_r(&t, &local);
    if (parts[0] == fs::path(upnp_log_part_name(file.c_str(), local)).filename().string()) stamp_matches = true;
  }
  EXPECT_TRUE(stamp_matches) << parts[0];
  EXPECT_TRUE(std::regex_match(parts[0], std::regex("x-[0-9]{4}(-[0-9]{2}){5}-log\\.txt")));
  std::string part = read_file(dir_ / parts[0]);
  EXPECT_GT(part.size(), static_cast<size_t>(UPNP_LOG_ROTATE_SIZE));
  EXPECT_NE(part.find(std::string(300, 'b')), std::string::npos);
  std::string current = read_file(file);
  EXPECT_TRUE(std::regex_match(current, std::regex(kTime + " \\[Info\\] - LOG_SYSTEM: first line of the new file\n")))
      << current;
}

TEST_F(LogTest, RotationsWithinOneSecondKeepEveryPart) {
  fs::path file = dir_ / "fast-log.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  upnp_log_set_sources(LOG_SYSTEM);
  std::string payload(8000 - 36, 'x');
  int lines = 0;
  // Three rotations in quick succession (most often within one second).
  while (part_files(dir_, "fast-log.txt").size() < 3 && lines < 1000) {
    for (int i = 0; i < 20; ++i, ++lines) upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "%s", payload.c_str());
  }
  upnp_log_flush();
  wait_for_cleanups();
  std::vector<std::string> parts = part_files(dir_, "fast-log.txt");
  ASSERT_EQ(parts.size(), 3u);
  uintmax_t total = fs::file_size(file);
  for (const std::string &p : parts) total += fs::file_size(dir_ / p);
  EXPECT_EQ(total, static_cast<uintmax_t>(lines) * 8000u);
}

// Seven old parts with distinct ages, oldest first.
std::vector<std::string> make_old_parts(const fs::path &dir) {
  std::vector<std::string> names;
  auto now = fs::file_time_type::clock::now();
  for (int i = 0; i < 7; ++i) {
    std::string name = "x-2026-01-0" + std::to_string(i + 1) + "-00-00-00-log.txt";
    std::ofstream(dir / name) << "part " << i << '\n';
    fs::last_write_time(dir / name, now - std::chrono::hours(100 - i));
    names.push_back(name);
  }
  return names;
}

TEST_F(LogTest, CleanUpKeepsTheFiveNewestParts) {
  std::vector<std::string> names = make_old_parts(dir_);
  std::ofstream(dir_ / "x-log.txt") << "current\n";
  fs::last_write_time(dir_ / "x-log.txt", fs::file_time_type::clock::now() - std::chrono::hours(500));
  std::ofstream(dir_ / "notes.txt") << "unrelated\n";
  fs::create_directory(dir_ / "folder-log.txt");
  fs::last_write_time(dir_ / "folder-log.txt", fs::file_time_type::clock::now() - std::chrono::hours(900));

  EXPECT_EQ(upnp_log_remove_old_parts((dir_ / "X-LOG.TXT").c_str()), 5);
  EXPECT_FALSE(fs::exists(dir_ / names[0]));
  EXPECT_FALSE(fs::exists(dir_ / names[1]));
  for (int i = 2; i < 7; ++i) EXPECT_TRUE(fs::exists(dir_ / names[static_cast<size_t>(i)])) << names[i];
  EXPECT_TRUE(fs::exists(dir_ / "x-log.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "notes.txt"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder-log.txt"));
  // Nothing more to do with five left.
  EXPECT_EQ(upnp_log_remove_old_parts((dir_ / "x-log.txt").c_str()), 5);
}

TEST_F(LogTest, RotationWithSevenOldPartsLeavesFive) {
  std::vector<std::string> names = make_old_parts(dir_);
  fs::path file = dir_ / "x-log.txt";
  ASSERT_EQ(upnp_log_init(file.c_str()), 1);
  upnp_log_set_sources(LOG_SYSTEM);
  log_bytes(UPNP_LOG_ROTATE_SIZE + 2000);
  wait_for_cleanups();
  EXPECT_EQ(upnp_log_cleanups_running(), 0);
  std::vector<std::string> parts = part_files(dir_, "x-log.txt");
  EXPECT_EQ(parts.size(), 5u);
  // The three oldest went, the fresh part stayed.
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(fs::exists(dir_ / names[static_cast<size_t>(i)])) << names[i];
  bool fresh = false;
  for (const std::string &p : parts) {
    if (p.rfind("x-2026-01-", 0) != 0) fresh = true;
  }
  EXPECT_TRUE(fresh);
  EXPECT_TRUE(fs::exists(file));
}

// In a child process without the right to delete in the folder: each run
// of the clean-up puts the oldest part on the bad list and stops; the next
// run skips it.
void clean_up_without_delete_rights(const fs::path &dir, const std::vector<std::string> &names) {
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(2);
  int first = upnp_log_remove_old_parts((dir / "x-log.txt").c_str());
  int second = upnp_log_remove_old_parts((dir / "x-log.txt").c_str());
  bool bad0 = upnp_log_bad_list_contains(names[0].c_str());
  bool bad1 = upnp_log_bad_list_contains(names[1].c_str());
  bool bad2 = upnp_log_bad_list_contains(names[2].c_str());
  // Opening the log again forgets the bad list.
  upnp_log_init(nullptr);
  bool cleared = !upnp_log_bad_list_contains(names[0].c_str());
  std::fprintf(stderr, "runs=%d,%d bad=%d,%d,%d cleared=%d\n", first, second, bad0, bad1, bad2, cleared);
  std::fflush(stderr);
  std::_Exit(0);
}

TEST_F(LogTest, PartThatCannotBeDeletedGoesOnTheBadList) {
  std::vector<std::string> names = make_old_parts(dir_);
  EXPECT_EXIT(clean_up_without_delete_rights(dir_, names), ::testing::ExitedWithCode(0), "runs=7,6 bad=1,1,0 cleared=1");
  fs::permissions(dir_, fs::perms::owner_all);
  for (const std::string &name : names) EXPECT_TRUE(fs::exists(dir_ / name)) << name;
}

TEST_F(LogTest, WithoutAFileLinesGoToStandardOutput) {
  ASSERT_EQ(upnp_log_init(nullptr), 1);
  upnp_log_set_sources(LOG_CGI);
  testing::internal::CaptureStdout();
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_CGI, "cgi", "to the console");
  upnp_log_flush();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(out, std::regex(kTime + " \\[Debug\\] - LOG_CGI: cgi : to the console\n"))) << out;
}

}  // namespace
