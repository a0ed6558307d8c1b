// No descriptor of the library reaches a child process: its sockets (the
// HTTP server's listening socket and connections, client connections, SSDP
// sockets) and files are closed on exec, both for a program the host starts
// and for the command of the library's own launcher. On 127.0.0.1 only.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
#include "base/upnp_socket.h"
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

std::string link_of(const std::string &path) {
  char buffer[4096];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

FdLinks own_descriptors() {
  FdLinks links;
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return links;
  int skip = dirfd(dir);
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd != skip) links[fd] = link_of(std::string("/proc/self/fd/") + entry->d_name);
  }
  closedir(dir);
  return links;
}

// Writes "N target" for each descriptor of the shell running it into the
// file named by its first argument (whole, by a rename).
const char kLister[] =
    "#!/bin/sh\n"
    "for f in /proc/$$/fd/*; do printf '%s ' \"${f##*/}\"; readlink \"$f\" || echo; done >\"$1.part\"\n"
    "mv \"$1.part\" \"$1\"\n";

FdLinks parse_listing(const std::string &text) {
  FdLinks links;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t blank = line.find(' ');
    if (blank != std::string::npos) links[std::atoi(line.c_str())] = line.substr(blank + 1);
  }
  return links;
}

struct Opened {
  std::string what;
  FdLinks fds;  // the descriptors that appeared while it was opened
};

class Cloexec : public ::testing::Test {
 protected:
  void SetUp() override {
    upnp_mem_init();
    upnp_log_set_level(LOG_LEVEL_WARNING);
    setenv("KESTREL_APP_SUPPORT_DIR", dir_.path().c_str(), 1);
    lister_ = (dir_.path() / "list-fds").string();
    test_support::write_file(lister_, kLister);
    chmod(lister_.c_str(), 0755);

    // Each case opens what the library keeps open while it runs; whatever
    // descriptors appear meanwhile are the library's (the test's own are
    // made with close-on-exec).
    const struct {
      const char *what;
      std::function<void()> open;
    } kCases[] = {
        {"TCP socket", [this] { keep_.push_back(upnp_socket_create_tcp()); }},
        {"UDP socket", [this] { keep_.push_back(upnp_socket_create_udp()); }},
        {"HTTP server's listening socket",
         [this] {
           server_ = HTTP_server_open("127.0.0.1", static_cast<unsigned int>(test_support::free_loopback_port()));
         }},
        {"HTTP client connection and the server's accepted end",
         [this] {
           std::string url = "http://127.0.0.1:" + std::to_string(HTTP_server_port(server_)) + "/";
           keep_.push_back(HTTP_open(url.c_str()));
           test_support::wait_until([] { return HTTP_server_connection_count() > 0; }, 5000);
         }},
        {"accepted socket",
         [this] {
           int port = 0;
           int listener = test_support::listen_tcp("127.0.0.1", &port);
           client_ = test_support::connect_loopback(port);
           keep_.push_back(upnp_socket_accept(listener, nullptr));
           close(listener);
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
    for (const auto &[fd, link] : own_descriptors()) inherited_.insert(link);
    for (const auto &c : kCases) {
      FdLinks before = own_descriptors();
      c.open();
      Opened opened{c.what, {}};
      for (const auto &[fd, link] : own_descriptors()) {
        if (before.count(fd) == 0) opened.fds[fd] = link;
      }
      EXPECT_FALSE(opened.fds.empty()) << c.what << ": nothing was opened";
      opened_.push_back(opened);
    }
  }

  void TearDown() override {
    upnp_log_init(nullptr);
    for (int fd : keep_) {
      if (fd >= 0) close(fd);
    }
    if (client_ >= 0) close(client_);
    if (server_ >= 0) HTTP_server_close(server_);
    unsetenv("KESTREL_APP_SUPPORT_DIR");
  }

  // No descriptor a case opened is held by the child, and the child holds
  // no socket above its standard ones but those this process was given.
  void expect_none_inherited(const FdLinks &child) {
    ASSERT_FALSE(child.empty()) << "the child listed no descriptors";
    std::set<std::string> held;
    for (const auto &[fd, link] : child) {
      held.insert(link);
      EXPECT_FALSE(fd > 2 && link.rfind("socket:", 0) == 0 && inherited_.count(link) == 0)
          << "the child holds " << link << " as " << fd;
    }
    for (const Opened &o : opened_) {
      for (const auto &[fd, link] : o.fds) {
        EXPECT_EQ(FD_CLOEXEC, fcntl(fd, F_GETFD) & FD_CLOEXEC) << o.what << ": " << fd << " " << link;
        EXPECT_EQ(0u, held.count(link)) << o.what << ": " << link << " reached the child";
      }
    }
  }

  test_support::TempDir dir_{"cloexec"};
  std::string lister_;
  std::set<std::string> inherited_;  // what this process held before the cases
  std::vector<Opened> opened_;
  std::vector<int> keep_;
  int server_ = -1;
  int client_ = -1;
};

TEST_F(Cloexec, ChildOfTheHostGetsNoLibraryDescriptor) {
  std::string out = (dir_.path() / "child.txt").string();
  const char *argv[] = {"sh", lister_.c_str(), out.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(0, posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char *const *>(argv), environ));
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  expect_none_inherited(parse_listing(test_support::read_file(out)));
}

TEST_F(Cloexec, LaunchedCommandGetsNoLibraryDescriptor) {
  upnp_ini_file_init();
  zel_site_register();
  upnp_ini_file_setPropertyByKey(ZEL_SITE_LAUNCH_COMMAND, lister_.c_str());
  ASSERT_EQ(lister_, zel_site_get(ZEL_SITE_LAUNCH_COMMAND));
  std::string out = (dir_.path() / "launched.txt").string();
  EXPECT_TRUE(MULaunchApp(out.c_str()));
  // The launcher does not wait for what it starts.
  bool listed = test_support::wait_until([&] { return access(out.c_str(), F_OK) == 0; }, 5000);
  upnp_ini_file_release();
  ASSERT_TRUE(listed) << "the launched command did not run";
  expect_none_inherited(parse_listing(test_support::read_file(out)));
}

// upnp_fopen's modes on a file holding "old": each stream is closed on exec
// and reads, writes, creates or refuses as fopen's would.
TEST(CloexecFiles, FopenModes) {
  test_support::TempDir dir("cloexec-fopen");
  const std::string path = (dir.path() / "f").string();
  const struct {
    const char *mode;
    const char *write;  // none: the stream is read instead, or does not open
    const char *after;  // the file afterwards; none: the open fails
  } kModes[] = {
      {"r", nullptr, "old"},   {"rb", nullptr, "old"},   {"r+", "N", "Nld"}, {"w", "new", "new"},
      {"wb+", "new", "new"},   {"a", "+1", "old+1"},     {"a+", "+1", "old+1"}, {"wx", nullptr, nullptr},
      {"q", nullptr, nullptr}, {"rz", nullptr, nullptr},
  };
  for (const auto &m : kModes) {
    test_support::write_file(path, "old");
    FILE *file = upnp_fopen(path.c_str(), m.mode);
    ASSERT_EQ(m.after != nullptr, file != nullptr) << m.mode;
    if (file == nullptr) continue;
    EXPECT_EQ(FD_CLOEXEC, fcntl(fileno(file), F_GETFD) & FD_CLOEXEC) << m.mode;
    if (m.write != nullptr) {
      std::fputs(m.write, file);
    } else {
      char read[8];
      EXPECT_EQ("old", std::string(read, std::fread(read, 1, sizeof read, file))) << m.mode;
    }
    std::fclose(file);
    EXPECT_EQ(m.after, test_support::read_file(path)) << m.mode;
  }
  std::remove(path.c_str());
  EXPECT_EQ(nullptr, upnp_fopen(path.c_str(), "r"));
  FILE *created = upnp_fopen(path.c_str(), "wx");
  EXPECT_NE(nullptr, created);
  if (created != nullptr) std::fclose(created);
}

}  // namespace
