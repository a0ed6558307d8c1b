// The upload command on the library's HTTP server at 127.0.0.1 with the
// transfer replaced by one that pulls the staged copy through the callback
// on a thread of its own: bytes handed on unchanged, one upload at a time,
// cancel, a client that vanishes mid-body, an oversized body, and never a
// staged file or an upload "in progress" left behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "support_tcp.h"
#include "base/upnp_mem.h"
#include "http/http_server.h"
#include "support_files.h"
#include "support_wait.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_upload_folder.h"
#include "webapi/webapi_upload_link.h"
#include "webapi_fake.h"
#include "webapi_test_server.h"

namespace {

int g_socket = -1;
unsigned g_port = 0;

// The replaced transfer: what it pulled, whether it should wait for a
// release before pulling, and its thread.
std::mutex g_mutex;
std::string g_pulled;
std::string g_title;
std::string g_protocol;
uint64_t g_announced = 0;
std::atomic<bool> g_hold{false};
std::atomic<bool> g_done{false};
std::thread g_transfer;

lm_nmc_result_t transfer(uint32_t, void *user, const char *title, const char *protocol, uint32_t,
                         webapi_upload_callback callback, uint32_t size, char *bookmark, uint64_t length) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_pulled.clear();
    g_title = title;
    g_protocol = protocol;
    g_announced = length;
  }
  g_done = false;
  std::snprintf(bookmark, size, "new/object");
  g_transfer = std::thread([user, callback] {
    void *data = user;
    while (g_hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    char block[1000];
    uint32_t n = 0;
    int more = 1;
    int result = 0;
    while (more) {
      more = callback(0, &data, sizeof block, block, &n);
      if (n == WEBAPI_UPLOAD_ABORT) {
        result = 1;
        break;
      }
      std::lock_guard<std::mutex> hold(g_mutex);
      g_pulled.append(block, n);
    }
    callback(0, &data, static_cast<uint32_t>(result), nullptr, &n);
    g_done = true;
  });
  return LM_NMC_OK;
}

int connect_server() {
  int fd = test_support::connect_loopback(g_port);
  if (fd < 0) return -1;
  return fd;
}

std::string request(const std::string &target, const std::string &body, const std::string &method = "POST") {
  return test_support::exchange_loopback(
      g_port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(g_port) +
                  "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::string body_of(const std::string &reply) {
  size_t at = reply.find("\r\n\r\n");
  return at == std::string::npos ? "" : reply.substr(at + 4);
}
int status_of(const std::string &reply) { return reply.size() > 12 ? std::stoi(reply.substr(9, 3)) : 0; }

class WebApiUpload : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_NO_FATAL_FAILURE(webapi_test::open_server(&g_socket, &g_port, true)); }
  static void TearDownTestSuite() { webapi_test::close_server(g_socket); }
  void SetUp() override {
    webapi_fake::install();
    dir_ = test_support::make_temp_dir("webapi-upload");
    webapi_upload_set_parent(dir_.c_str());
    webapi_upload_set_function(transfer);
    g_hold = false;
  }
  void TearDown() override {
    g_hold = false;
    if (g_transfer.joinable()) g_transfer.join();
    EXPECT_TRUE(staged_files().empty());
    EXPECT_EQ(body_of(request("/nmc/rpc/upload?operation=getstatus", "", "GET")), "0/0");
    webapi_upload_set_function(nullptr);
    webapi_upload_set_parent(nullptr);
    webapi_set_max_upload_mb(1024);
    webapi_fake::remove();
    test_support::remove_tree(dir_);
  }
  std::vector<std::string> staged_files() {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto &e : std::filesystem::directory_iterator(dir_ / "webapi-uploads", ec)) out.push_back(e.path());
    return out;
  }
  std::filesystem::path dir_;
};

TEST_F(WebApiUpload, BytesArriveUnchangedAndTheCopyGoes) {
  std::string data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<char>(i * 7));
  std::string reply = request("/nmc/rpc/upload?operation=start&server=s&file=C%3A%5Cmusic%5Csong.MP3", data);
  EXPECT_EQ(status_of(reply), 200);
  EXPECT_EQ(body_of(reply), "new/object");
  ASSERT_TRUE(test_support::wait_until([] { return g_done.load(); }, 5000));
  std::lock_guard<std::mutex> hold(g_mutex);
  EXPECT_EQ(g_pulled, data);
  EXPECT_EQ(g_title, "song.MP3");
  EXPECT_EQ(g_protocol, "*:*:audio/mpeg:DLNA.ORG_PN=MP3");
  EXPECT_EQ(g_announced, data.size());
  struct stat st;
  ASSERT_EQ(stat((dir_ / "webapi-uploads").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(WebApiUpload, OneAtATimeStatusAndCancel) {
  g_hold = true;
  std::string reply = request("/nmc/rpc/upload?operation=start&server=s&file=a/b.wav", std::string(3000, 'x'));
  EXPECT_EQ(status_of(reply), 200);
  EXPECT_EQ(body_of(request("/nmc/rpc/upload?operation=getstatus", "", "GET")), "0/3000");
  reply = request("/nmc/rpc/upload?operation=start&server=s&file=c.wav", "yy");
  EXPECT_EQ(status_of(reply), 501);
  EXPECT_EQ(body_of(reply), "upload already in progress, cannot start another");
  EXPECT_EQ(staged_files().size(), 1u);
  EXPECT_EQ(status_of(request("/nmc/rpc/upload?operation=stop", "", "GET")), 200);
  g_hold = false;
  ASSERT_TRUE(test_support::wait_until([] { return g_done.load(); }, 5000));
  std::lock_guard<std::mutex> hold(g_mutex);
  EXPECT_TRUE(g_pulled.empty());
}

TEST_F(WebApiUpload, RefusedStartsLeaveNothing) {
  // Not a POST, no file, a bad server, a failing transfer, an oversized body.
  EXPECT_EQ(status_of(request("/nmc/rpc/upload?operation=start&server=s&file=a.mp3", "", "GET")), 402);
  EXPECT_EQ(status_of(request("/nmc/rpc/upload?operation=start&server=s", "abc")), 402);
  webapi_fake::fail("go_bookmark");
  EXPECT_EQ(status_of(request("/nmc/rpc/upload?operation=start&server=s&file=a.mp3", "abc")), 412);
  webapi_fake::install();
  webapi_upload_set_function(nullptr);  // no transfer available
  EXPECT_EQ(status_of(request("/nmc/rpc/upload?operation=start&server=s&file=a.mp3", "abc")), 500);
  webapi_upload_set_function(transfer);
  webapi_set_max_upload_mb(1);
  EXPECT_EQ(status_of(request("/nmc/rpc/upload?operation=start&server=s&file=a.mp3", std::string(1100000, 'z'))),
            413);
  EXPECT_EQ(webapi_fake::open_contexts(), 0);
}

TEST_F(WebApiUpload, ClientVanishingMidBody) {
  int fd = connect_server();
  std::string head = "POST /nmc/rpc/upload?operation=start&server=s&file=a.mp3 HTTP/1.1\r\nHost: 127.0.0.1:" +
                     std::to_string(g_port) + "\r\nContent-Length: 100000\r\n\r\n" + std::string(500, 'q');
  send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  close(fd);
  ASSERT_TRUE(test_support::wait_until([this] { return staged_files().empty(); }, 5000));
}

}  // namespace
