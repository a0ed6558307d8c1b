// Local files shared for renderers, served on the library's HTTP server at
// 127.0.0.1 by token: whole, by byte ranges, HEAD, and 404 for anything
// not shared (unknown tokens, paths, ended shares).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support_tcp.h"
#include "base/upnp_mem.h"
#include "http/http_server.h"
#include "support_files.h"
#include "nmc/lm_nmc_queue.h"
#include "webapi/webapi_local_files.h"

namespace {

unsigned g_port = 0;

std::string fetch(const std::string &target, const std::string &extra = "", const std::string &method = "GET") {
  return test_support::exchange_loopback(
      g_port, method + " " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + extra + "\r\n");
}

int status_of(const std::string &r) { return r.size() > 12 ? std::stoi(r.substr(9, 3)) : 0; }
std::string body_of(const std::string &r) {
  size_t at = r.find("\r\n\r\n");
  return at == std::string::npos ? "" : r.substr(at + 4);
}

TEST(WebApiLocalFiles, SharedFilesOnlyByTokenWithRanges) {
  upnp_mem_init();
  int server = HTTP_server_open("127.0.0.1", 0);
  ASSERT_GE(server, 0);
  g_port = HTTP_server_port(server);
  auto dir = test_support::make_temp_dir("webapi-share");
  std::string data = "0123456789abcdef";
  test_support::write_file(dir / "song a.mp3", data);
  test_support::write_file(dir / "other.mp3", "secret");

  char token[WEBAPI_SHARE_TOKEN_SIZE];
  ASSERT_EQ(webapi_local_file_share((dir / "song a.mp3").c_str(), token, sizeof token), 0);
  EXPECT_EQ(std::string(token).size(), 32u);
  char second[WEBAPI_SHARE_TOKEN_SIZE];
  std::string url = "file://" + (dir / "song%20a.mp3").string();
  ASSERT_EQ(webapi_local_file_share(url.c_str(), second, sizeof second), 0);
  EXPECT_STRNE(token, second);
  char refused[WEBAPI_SHARE_TOKEN_SIZE];
  EXPECT_NE(webapi_local_file_share("relative/x.mp3", refused, sizeof refused), 0);

  const std::string target = std::string(WEBAPI_SHARE_PREFIX) + "?" + token;
  struct Case {
    std::string target;
    std::string extra;
    int status;
    std::string body;
  } cases[] = {
      {target, "", 200, data},
      {target, "Range: bytes=2-5\r\n", 206, "2345"},
      {target, "Range: bytes=10-\r\n", 206, "abcdef"},
      {target, "Range: bytes=-3\r\n", 206, "def"},
      {target, "Range: bytes=99-\r\n", 416, ""},
      {std::string(WEBAPI_SHARE_PREFIX) + "?" + (dir / "other.mp3").string(), "", 404, ""},
      {std::string(WEBAPI_SHARE_PREFIX) + "?00000000000000000000000000000000", "", 404, ""},
      {std::string(WEBAPI_SHARE_PREFIX), "", 404, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.target + " " + c.extra);
    std::string r = fetch(c.target, c.extra);
    EXPECT_EQ(status_of(r), c.status);
    if (c.status < 300) {
      EXPECT_EQ(body_of(r), c.body);
      EXPECT_NE(r.find("Content-Type: audio/mpeg"), std::string::npos);
    }
  }
  std::string r = fetch(std::string(WEBAPI_SHARE_PREFIX) + "?" + second, "", "HEAD");
  EXPECT_EQ(status_of(r), 200);
  EXPECT_NE(r.find("Content-Length: 16"), std::string::npos);
  EXPECT_EQ(body_of(r), "");

  webapi_local_file_unshare(token);
  EXPECT_EQ(status_of(fetch(target)), 404);
  webapi_local_file_unshare(second);
  EXPECT_EQ(webapi_local_file_count(), 0u);
  HTTP_server_close(server);
  http_unregister_all_handlers();
  test_support::remove_tree(dir);
}

// A queued entry holds its file's share: moving the entry around keeps it,
// removing the entry (or clearing the queue) ends it.
TEST(WebApiLocalFiles, QueuedEntryHoldsItsShare) {
  upnp_mem_init();
  for (bool clear : {false, true}) {
    SCOPED_TRACE(clear ? "clear" : "remove");
    char token[WEBAPI_SHARE_TOKEN_SIZE] = "";
    ASSERT_EQ(webapi_local_file_share("/etc/hostname", token, sizeof token), 0);
    nmc_queue queue;
    nmc_queue_entry entry;
    entry.url = std::string("http://127.0.0.1:1/") + WEBAPI_SHARE_PREFIX + "?" + token;
    nmc_queue_insert(queue, entry, 0);
    nmc_queue_insert(queue, nmc_queue_entry(), 0);
    ASSERT_TRUE(nmc_queue_move(queue, 1, 1, 0));
    EXPECT_EQ(webapi_local_file_count(), 1u);
    if (clear) {
      nmc_queue_clear_entries(queue);
    } else {
      ASSERT_TRUE(nmc_queue_remove_at(queue, 0));
    }
    EXPECT_EQ(webapi_local_file_count(), 0u);
  }
}

}  // namespace
