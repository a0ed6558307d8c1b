// Shared by the media tests: a private application-data folder per test, the
// site properties pointed at a host of the test's choosing, a crafted HTTP
// server on 127.0.0.1, and the controller up for a whole test program.
#ifndef TESTS_MEDIA_MEDIA_TEST_UTIL_H
#define TESTS_MEDIA_MEDIA_TEST_UTIL_H

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support_files.h"

namespace media_test {

// A fresh application-data folder in KESTREL_APP_SUPPORT_DIR and ZelUtil
// with nothing loaded; both undone when the object goes.
class AppData {
 public:
  AppData();
  ~AppData();
  // The settings file's path (<folder>/LumetMedia/LumetPluginSettings.ini).
  std::filesystem::path settings_path() const;
  const std::filesystem::path &root() const { return dir_.path(); }

 private:
  test_support::TempDir dir_;
};

// The configuration store up with the site properties; every video and date
// host set to host (host:port). Released when the object goes.
class SiteHosts {
 public:
  explicit SiteHosts(const std::string &host);
  ~SiteHosts();
};

// Answers each connection on 127.0.0.1 with what reply(request header) gives
// (the whole response bytes); an empty reply closes without answering.
class CraftedServer {
 public:
  explicit CraftedServer(std::function<std::string(const std::string &)> reply);
  ~CraftedServer();
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string url(const std::string &path) const { return "http://" + host() + path; }
  // The request lines seen so far ("GET /x HTTP/1.1").
  std::vector<std::string> requests();

 private:
  void serve();
  std::function<std::string(const std::string &)> reply_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// The environment of a program against crafted devices: the controller up
// without network (notifiers start at once) in an application-data folder of
// its own (named after name) and the control point singleton created;
// Cleanup at the end.
class ControllerUp : public ::testing::Environment {
 public:
  explicit ControllerUp(std::string name) : name_(std::move(name)) {}
  void SetUp() override;
  void TearDown() override;

 private:
  std::string name_;
  std::unique_ptr<test_support::TempDir> dir_;
};

// "HTTP/1.0 <status>" with the header lines (each "Name: value") and body.
std::string response(const std::string &status, const std::vector<std::string> &headers, const std::string &body);

}  // namespace media_test

#endif
