// No descriptor of the library reaches a child process, neither one the host
// starts nor the command of the library's launcher. On 127.0.0.1 only.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/upnp_fd.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_client.h"
#include "http/http_server.h"
#include "media/zel_platform.h"
#include "media/zel_site_config.h"
#include "ssdp/upnp_ssdp_internal.h"
#include "support_files.h"
#include "support_tcp.h"
#include "support_wait.h"

extern char **environ;

namespace {

// Descriptor number -> what it refers to ("socket:[123]", a path, ...).
using FdLinks = std::map<int, std::string>;

FdLinks own_descriptors() {
  FdLinks links;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::string link = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && link.rfind("/proc/", 0) != 0) links[std::stoi(entry.path().filename())] = link;
  }
  return links;
}

// Writes "N target" per descriptor of the shell running it into the file
// named by its first argument (whole, by a rename).
const char kLister[] =
    "#!/bin/sh\n"
    "for f in /proc/$$/fd/*; do printf '%s ' \"${f##*/}\"; readlink \"$f\" || echo; done >\"$1.part\"\n"
    "mv \"$1.part\" \"$1\"\n";

class Cloexec : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    upnp_log_set_level(LOG_LEVEL_WARNING);
    setenv("KESTREL_APP_SUPPORT_DIR", dir_.path().c_str(), 1);
    test_support::write_file(lister_, kLister);
    chmod(lister_.c_str(), 0755);
    // What the library keeps open while it runs; the descriptors that
    // appear meanwhile are the library's (the test's own are close-on-exec).
    const std::pair<const char *, std::function<void()>> kCases[] = {
        {"HTTP server's listening socket",
         [this] {
           server_ = HTTP_server_open("127.0.0.1", static_cast<unsigned int>(test_support::free_loopback_port()));
         }},
        {"HTTP client connection and the server's accepted end",
         [this] {
           keep_.push_back(HTTP_open(("http://127.0.0.1:" + std::to_string(HTTP_server_port(server_))).c_str()));
           test_support::wait_until([] { return HTTP_server_connection_count() > 0; }, 5000);
         }},
        {"SSDP search socket", [this] { keep_.push_back(ssdp_open_search_socket("127.0.0.1", 0, 0, 4)); }},
        {"log file", [this] { upnp_log_init((dir_.path() / "kestrel.log").c_str()); }},
        {"pipe",
         [this] {
           int fds[2] = {-1, -1};
           upnp_pipe(fds);
           keep_.insert(keep_.end(), {fds[0], fds[1]});
         }},
        {"temporary file",
         [this] {
           std::string name = (dir_.path() / "temp.XXXXXX").string();
           keep_.push_back(upnp_mkstemp(&name[0]));
         }},
    };
    for (const auto &[fd, link] : own_descriptors()) given_.insert(link);
    for (const auto &[what, open] : kCases) {
      FdLinks before = own_descriptors();
      size_t had = opened_.size();
      open();
      for (const auto &[fd, link] : own_descriptors()) {
        if (before.count(fd) == 0) opened_.emplace(link, what);
      }
      EXPECT_LT(had, opened_.size()) << what << ": nothing was opened";
    }
  }

  void TearDown() override {
    upnp_log_init(nullptr);
    for (int fd : keep_) close(fd);
    if (server_ >= 0) HTTP_server_close(server_);
    unsetenv("KESTREL_APP_SUPPORT_DIR");
  }

  // The child's listing holds no descriptor of the cases and no socket
  // above the standard ones but those this process was given.
  void expect_none_inherited(const std::string &listing) {
    std::istringstream in(listing);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
      ++lines;
      int fd = std::atoi(line.c_str());
      std::string link = line.substr(line.find(' ') + 1);
      EXPECT_EQ(0u, opened_.count(link)) << opened_[link] << ": " << link << " reached the child as " << fd;
      EXPECT_FALSE(fd > 2 && link.rfind("socket:", 0) == 0 && given_.count(link) == 0) << link << " as " << fd;
    }
    EXPECT_GE(lines, 3) << "the child listed no descriptors";
  }

  test_support::TempDir dir_{"cloexec"};
  std::string lister_ = (dir_.path() / "list-fds").string();
  std::set<std::string> given_;              // what this process held before the cases
  std::map<std::string, std::string> opened_;  // link -> the case that opened it
  std::vector<int> keep_;
  int server_ = -1;
};

TEST_F(Cloexec, ChildOfTheHostGetsNoLibraryDescriptor) {
  std::string out = (dir_.path() / "child.txt").string();
  const char *argv[] = {"sh", lister_.c_str(), out.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(0, posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char *const *>(argv), environ));
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  expect_none_inherited(test_support::read_file(out));
}

TEST_F(Cloexec, LaunchedCommandGetsNoLibraryDescriptor) {
  upnp_ini_file_init();
  zel_site_register();
  upnp_ini_file_setPropertyByKey(ZEL_SITE_LAUNCH_COMMAND, lister_.c_str());
  std::string out = (dir_.path() / "launched.txt").string();
  EXPECT_TRUE(MULaunchApp(out.c_str()));
  // The launcher does not wait for what it starts.
  bool listed = test_support::wait_until([&] { return access(out.c_str(), F_OK) == 0; }, 5000);
  upnp_ini_file_release();
  ASSERT_TRUE(listed) << "the launched command did not run";
  expect_none_inherited(test_support::read_file(out));
}

}  // namespace
