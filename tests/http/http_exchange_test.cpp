// Complete exchanges against small servers on 127.0.0.1: every body framing,
// interim responses, 404s, oversized headers, the watchdog ending a stalled
// exchange, connect time-outs and the SOAP URL join.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"
#include "http/http_client.h"
#include "http/upnp_socket_watchdog.h"
#include "http_test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// Runs one GET against a server that answers with `wire` and closes.
std::string get_from(const std::string &wire) {
  TestServer server([&](TestServer &, int fd, const std::string &) { TestServer::send_all(fd, wire); });
  char *body = HTTP_get(server.url("/desc.xml").c_str());
  if (!body) return "<none>";
  std::string out(body);
  upnp_free_impl(body);
  return out;
}

class HttpExchange : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = upnp_mem_used(); }
  void TearDown() override {
    // Watchdog entries are freed by their owners; nothing may stay behind.
    EXPECT_EQ(upnp_mem_used(), baseline_) << "accounted memory leaked";
  }
  int64_t baseline_ = 0;
};

}  // namespace

TEST_F(HttpExchange, ChunkedResponseWithSeveralChunksAndExtensions) {
  EXPECT_EQ(get_from("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "4;a=b\r\n<roo\r\n3 ; x=\"y\"\r\nt/>\r\n0\r\n\r\n"),
            "<root/>");
}

TEST_F(HttpExchange, ContentLengthResponse) {
  std::string body(200 * 1024, 'd');
  EXPECT_EQ(get_from(http_response("200 OK", body) + "trailing junk"), body);
}

TEST_F(HttpExchange, ReadUntilCloseAndHttp10) {
  // The exchanges read an unframed body until close even without
  // "Connection: close".
  EXPECT_EQ(get_from("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<a>unframed</a>"), "<a>unframed</a>");
  EXPECT_EQ(get_from("HTTP/1.0 200 OK\r\n\r\n<a>ten</a>"), "<a>ten</a>");
  EXPECT_EQ(get_from("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"), "abc");
}

TEST_F(HttpExchange, NotFoundBodyIsIgnored) {
  EXPECT_EQ(get_from(http_response("404 Not Found", "<html>gone</html>")), "<none>");
  EXPECT_EQ(get_from(http_response("404 NOT FOUND", "<html>gone</html>")), "<none>");
  // Other errors hand the body to the caller, who judges it.
  EXPECT_EQ(get_from(http_response("500 Internal Server Error", "<fault/>")), "<fault/>");
}

TEST_F(HttpExchange, HeaderOfMoreThan8191BytesStillYieldsBody) {
  std::string wire = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nX-Big: " + std::string(9000, 'b') + "\r\n\r\nfinish";
  EXPECT_EQ(get_from(wire), "finish");
}

TEST_F(HttpExchange, GetRequestLineAndHeaderCopy) {
  TestServer server([](TestServer &, int fd, const std::string &) {
    TestServer::send_all(fd, http_response("200 OK", "x", "Server: test/1\r\n"));
  });
  char *header = nullptr;
  char *body = HTTP_get_advanced(server.url("/dev/desc.xml").c_str(), 2000, &header);
  ASSERT_NE(body, nullptr);
  ASSERT_NE(header, nullptr);
  EXPECT_STREQ(body, "x");
  EXPECT_EQ(std::string(header), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nServer: test/1\r\n\r\n");
  upnp_free_impl(body);
  upnp_free_impl(header);
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].rfind("GET /dev/desc.xml HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1:", 0), 0u) << reqs[0];
}

TEST_F(HttpExchange, SoapActionSkipsContinueAndJoinsUrls) {
  std::string seen_body;
  TestServer server([&](TestServer &, int fd, const std::string &request) {
    size_t end = request.find("\r\n\r\n") + 4;
    size_t length = std::stoul(request.substr(request.find("Content-Length: ") + 16));
    seen_body = TestServer::read_more(fd, end + length, request).substr(end);
    TestServer::send_all(fd, "HTTP/1.1 100 Continue\r\n\r\n");
    TestServer::send_all(fd, "HTTP/1.1 102 Processing\r\n\r\n");
    TestServer::send_all(fd, http_response("200 OK", "<u:PlayResponse/>"));
  });
  const std::string envelope = "<s:Envelope><u:Play/></s:Envelope>";
  struct Case {
    std::string base, control, path;
  } cases[] = {
      {server.url("/dev"), "ctl/AVT", "/dev/ctl/AVT"},
      {server.url("/dev/"), "ctl/AVT", "/dev/ctl/AVT"},  // one separator only
      {server.url("/dev/desc.xml"), "/upnp/ctl", "/upnp/ctl"},  // host-relative
      {server.url(""), "/upnp/ctl", "/upnp/ctl"},
  };
  for (const Case &c : cases) {
    char *reply = HTTP_soap_action(c.base.c_str(), c.control.c_str(), "\"urn:x#Play\"", envelope.c_str());
    ASSERT_NE(reply, nullptr) << c.base << " + " << c.control;
    EXPECT_STREQ(reply, "<u:PlayResponse/>");
    upnp_free_impl(reply);
    std::string req = server.requests().back();
    EXPECT_EQ(req.rfind("POST " + c.path + " HTTP/1.1\r\n", 0), 0u) << req;
    EXPECT_NE(req.find("\r\nSOAPACTION: \"urn:x#Play\"\r\n"), std::string::npos);
    EXPECT_EQ(seen_body, envelope);
  }
  EXPECT_EQ(HTTP_soap_action(server.url("/").c_str(), std::string(1100, 'c').c_str(), "\"a\"", "b"), nullptr);
}

TEST_F(HttpExchange, PeerClosingMidChunkGivesNoBody) {
  EXPECT_EQ(get_from("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nonly-part"), "<none>");
}

TEST_F(HttpExchange, NoHeaderOrRefusedConnectionGivesNone) {
  EXPECT_EQ(get_from(""), "<none>");
  EXPECT_EQ(get_from("SSH-2.0-OpenSSH\r\n\r\n"), "<none>");
  // A port nobody listens on.
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
  close(s);
  EXPECT_EQ(HTTP_open(url.c_str()), -1);
  EXPECT_EQ(HTTP_get(url.c_str()), nullptr);
  EXPECT_EQ(_HTTP_talk(3, url.c_str(), nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(HTTP_get(nullptr), nullptr);
}

TEST_F(HttpExchange, OpenParsesUserInfoAndPortAndRefusesOtherSchemes) {
  TestServer server([](TestServer &, int, const std::string &) {});
  std::string port = std::to_string(server.port());
  for (const std::string &url : {"http://user:pw@127.0.0.1:" + port + "/x", "http://127.0.0.1:" + port,
                                 "ftp://127.0.0.1:" + port + "/pub"}) {
    int s = HTTP_open(url.c_str());
    EXPECT_GE(s, 0) << url;
    if (s >= 0) close(s);
  }
  // The time-to-live and the connection time-out reach the socket.
  int s = HTTP_open_ttl(("http://127.0.0.1:" + port + "/").c_str(), 7);
  ASSERT_GE(s, 0);
  int ttl = 0;
  socklen_t len = sizeof ttl;
  ASSERT_EQ(getsockopt(s, IPPROTO_IP, IP_TTL, &ttl, &len), 0);
  EXPECT_EQ(ttl, 7);
  timeval tv{};
  len = sizeof tv;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
  EXPECT_EQ(tv.tv_sec, 30);
  close(s);
  EXPECT_EQ(HTTP_open("https://127.0.0.1/"), -1);
  EXPECT_EQ(HTTP_open("127.0.0.1:80"), -1);
  EXPECT_EQ(HTTP_open(nullptr), -1);
}

TEST_F(HttpExchange, WatchdogEndsStalledBodyWithinItsTimeout) {
  // The server trickles one byte every 100 ms, so no single receive times
  // out: only the watchdog's limit on the whole exchange ends it.
  TestServer server([](TestServer &self, int fd, const std::string &) {
    TestServer::send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nstart");
    while (!self.wait_stop(100)) {
      if (!TestServer::send_all(fd, "x")) break;
    }
  });
  auto t0 = Clock::now();
  char *body = HTTP_get_with_timeout(server.url("/stall").c_str(), 600);
  long long took = ms_since(t0);
  EXPECT_EQ(body, nullptr);
  upnp_free_impl(body);
  EXPECT_GE(took, 550);
  EXPECT_LT(took, 1500);
}

TEST_F(HttpExchange, ConnectTimeoutAgainstFullBacklog) {
  // A listener that never accepts and whose backlog is full drops further
  // connection attempts, so a connect to it hangs until the time-out.
  int l = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_EQ(listen(l, 0), 0);
  socklen_t len = sizeof a;
  getsockname(l, reinterpret_cast<sockaddr *>(&a), &len);
  std::vector<int> fillers;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a);
    fillers.push_back(c);
    pollfd p{c, POLLOUT, 0};
    full = poll(&p, 1, 200) == 0;  // still connecting: the backlog is full
  }
  ASSERT_TRUE(full) << "could not fill the listen backlog";

  unsigned int old = HTTP_set_connection_timeout(1);
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
  auto t0 = Clock::now();
  EXPECT_EQ(HTTP_open(url.c_str()), -1);
  long long took = ms_since(t0);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 2000);
  t0 = Clock::now();
  EXPECT_EQ(HTTP_get(url.c_str()), nullptr);
  EXPECT_LT(ms_since(t0), 2000);
  HTTP_set_connection_timeout(old);
  for (int c : fillers) close(c);
  close(l);
}

// Needs a private network namespace (see CMakeLists.txt): a name that does
// not resolve there falls back to 127.0.0.1.
TEST_F(HttpExchange, UnresolvableHostFallsBackToLoopback) {
  if (!getenv("HTTP_TEST_PRIVATE_NETNS")) GTEST_SKIP() << "runs only inside a private network namespace";
  TestServer server([](TestServer &, int fd, const std::string &) {
    TestServer::send_all(fd, http_response("200 OK", "local"));
  });
  std::string url = "http://no-such-host.invalid:" + std::to_string(server.port()) + "/";
  char *body = HTTP_get(url.c_str());
  ASSERT_NE(body, nullptr);
  EXPECT_STREQ(body, "local");
  upnp_free_impl(body);
}
