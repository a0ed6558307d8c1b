// The server against real clients on 127.0.0.1 (raw sockets and curl):
// request-line and path rules, dispatch, keep-alive, 100-continue,
// pipelining, HEAD and the bounds of a network-facing server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "http_server_test_util.h"

namespace {

TEST(HttpServer, RootPathGetsTheNotFoundPage) {
  Response r = parse_response(round_trip("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(404, r.status);
  EXPECT_EQ("text/html; charset=utf-8", field(r.header, "Content-Type"));
  EXPECT_EQ(
      "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>Not Found</H1>"
      "The requested URL was not found on this server.</BODY></HTML>",
      r.body);
  EXPECT_EQ(std::to_string(r.body.size()), field(r.header, "Content-Length"));
  int status = 0;
  std::string code = run_command("curl -s -o /dev/null -w '%{http_code}' " + test_url("/"), &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ("404", code);
}

TEST(HttpServer, NotifyToAnyPathReachesTheEmptyPrefixHandler) {
  clear_seen_requests();
  std::string body = "<e:propertyset/>";
  Response r = parse_response(
      round_trip("NOTIFY /some/where/else HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONTENT-TYPE: text/xml\r\nNT: upnp:event\r\n"
               "Connection: close\r\nCONTENT-LENGTH: " +
               std::to_string(body.size()) + "\r\n\r\n" + body));
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("notified /some/where/else", r.body);
  auto seen = seen_requests();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("NOTIFY /some/where/else|" + body, seen[0]);
  // A GET to the same path has no handler.
  EXPECT_EQ(404, parse_response(round_trip("GET /some/where/else HTTP/1.0\r\n\r\n")).status);
}

TEST(HttpServer, Http10KeepAliveIsStillClosed) {
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_text(fd, "GET /small HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"));
  Response r = parse_response(read_response(fd));
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("close", field(r.header, "Connection"));
  EXPECT_TRUE(closed_by_server(fd, 3000));
  close(fd);
}

TEST(HttpServer, ConnectionFieldRules) {
  struct Case {
    const char *field;
    const char *expect;
  } cases[] = {{"", "keep-alive"},
               {"Connection: close\r\n", "close"},
               {"Connection: CLOSE\r\n", "close"},
               {"Connection: keep-alive\r\n", "keep-alive"},
               {"Connection: Keep-Alive, close\r\n", "keep-alive"},
               {"Connection: Upgrade\r\n", "close"}};
  for (const Case &c : cases) {
    int fd = connect_server();
    ASSERT_GE(fd, 0);
    send_text(fd, std::string("GET /small HTTP/1.1\r\nHost: x\r\n") + c.field + "\r\n");
    Response r = parse_response(read_response(fd));
    EXPECT_EQ(c.expect, field(r.header, "Connection")) << c.field;
    EXPECT_EQ(std::string(c.expect) == "close", closed_by_server(fd, 500)) << c.field;
    close(fd);
  }
}

TEST(HttpServer, PipelinedKeepAliveRequestsOnOneConnection) {
  clear_seen_requests();
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  std::string post_body = "abc=1&x=2";
  ASSERT_TRUE(send_text(fd,
                        "GET /echo/one HTTP/1.1\r\nHost: x\r\n\r\n"
                        "POST /echo/two HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                            std::to_string(post_body.size()) + "\r\n\r\n" + post_body +
                            "GET /echo/three HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ("echo /echo/one|", parse_response(read_response(fd)).body);
  EXPECT_EQ("echo /echo/two|" + post_body, parse_response(read_response(fd)).body);
  Response third = parse_response(read_response(fd));
  EXPECT_EQ("echo /echo/three|", third.body);
  EXPECT_EQ("keep-alive", field(third.header, "Connection"));
  EXPECT_FALSE(closed_by_server(fd, 200));
  close(fd);
  EXPECT_EQ(3u, seen_requests().size());
}

TEST(HttpServer, CurlReusesTheConnection) {
  int status = 0;
  std::string out = run_command("curl -sv " + test_url("/echo/a") + " " + test_url("/echo/b") + " 2>&1", &status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, out.find("echo /echo/a|"));
  EXPECT_NE(std::string::npos, out.find("echo /echo/b|"));
  EXPECT_NE(std::string::npos, out.find("Re-using existing connection")) << out;
}

TEST(HttpServer, HeadGetsTheHeaderOnly) {
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  send_text(fd, "HEAD /data HTTP/1.1\r\nHost: x\r\n\r\nGET /small HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  std::string all = read_until_close(fd);
  close(fd);
  Response head = parse_response(all);
  EXPECT_EQ(200, head.status);
  EXPECT_EQ("100", field(head.header, "Content-Length"));
  // The next response follows the header directly: no body in between.
  EXPECT_EQ(0u, head.body.rfind("HTTP/1.1 200 OK\r\n", 0));
  EXPECT_EQ("hello", parse_response(head.body).body);
  int status = 0;
  std::string out = run_command("curl -sI " + test_url("/data"), &status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, out.find("Content-Length: 100"));
}

TEST(HttpServer, ContinueComesBeforeTheBody) {
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_text(fd,
                        "POST /echo/up HTTP/1.1\r\nHost: x\r\nExpect: 100-Continue\r\nContent-Length: 4\r\n"
                        "Connection: close\r\n\r\n"));
  std::string interim = read_response(fd, 3000);
  EXPECT_EQ("HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\n", interim);
  EXPECT_EQ(44u, interim.size());
  send_text(fd, "data");
  EXPECT_EQ("echo /echo/up|data", parse_response(read_until_close(fd)).body);
  close(fd);
  // curl waits for the interim reply before it sends.
  int status = 0;
  std::string out = run_command("curl -sv -H 'Expect: 100-continue' --data-binary 0123456789 " +
                                    test_url("/echo/curl") + " 2>&1",
                                &status);
  EXPECT_NE(std::string::npos, out.find("HTTP/1.1 100 Continue"));
  EXPECT_NE(std::string::npos, out.find("echo /echo/curl|0123456789"));
}

TEST(HttpServer, CreateObjectWithoutContinueIsRefused) {
  Response r = parse_response(
      round_trip("POST /echo/cds HTTP/1.1\r\nHost: x\r\nSOAPACTION: \"urn:x#CreateObject\"\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n"));
  EXPECT_EQ(400, r.status);
}

TEST(HttpServer, TargetsArePathsDecodedAndMapped) {
  clear_seen_requests();
  round_trip("GET http://127.0.0.1:1234/echo/abs?x=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  round_trip("GET /echo/a%20b%2Fc HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  round_trip("GET /favicon.ico HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  auto seen = seen_requests();
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("GET /echo/abs?x=1|", seen[0]);
  EXPECT_EQ("GET /echo/a b/c|", seen[1]);
  // An absolute-form target without a path is the (unhandled) default URL.
  EXPECT_EQ(404, parse_response(round_trip("GET http://host HTTP/1.0\r\n\r\n")).status);
  // An overlong target is cut, not overrun.
  std::string longpath = "/echo/" + std::string(3000, 'p');
  Response r = parse_response(round_trip("GET " + longpath + " HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(200, r.status);
  EXPECT_EQ(std::string("echo ") + longpath.substr(0, 1023) + "|", r.body);
}

TEST(HttpServer, BodyAboveTheLimitIsRefusedBeforeReading) {
  uint64_t old = HTTP_server_set_max_body(1000);
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  send_text(fd, "POST /echo/big HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000\r\n\r\n");
  Response r = parse_response(read_until_close(fd));
  EXPECT_EQ(413, r.status);
  EXPECT_EQ("close", field(r.header, "Connection"));
  close(fd);
  // Chunked bodies that grow beyond it end the connection.
  fd = connect_server();
  std::string chunk(600, 'c');
  char size[16];
  std::snprintf(size, sizeof size, "%zx", chunk.size());
  send_text(fd, "POST /echo/chunks HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) +
                    "\r\n" + chunk + "\r\n" + size + "\r\n" + chunk + "\r\n0\r\n\r\n");
  r = parse_response(read_until_close(fd));
  EXPECT_EQ("echo /echo/chunks|", r.body);
  EXPECT_EQ("close", field(r.header, "Connection"));
  close(fd);
  HTTP_server_set_max_body(old);
  // Within the limit a chunked body arrives whole.
  r = parse_response(round_trip(
      "POST /echo/ok HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
      "3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\nTrailer: x\r\n\r\n"));
  EXPECT_EQ("echo /echo/ok|abcde", r.body);
}

TEST(HttpServer, UnreadBodyEndsTheConnection) {
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  // No handler reads it: the body must not be taken for the next request.
  send_text(fd, "POST /nowhere HTTP/1.1\r\nHost: x\r\nContent-Length: 26\r\n\r\nGET /small HTTP/1.1\r\n\r\n\r\n");
  std::string all = read_until_close(fd, 3000);
  close(fd);
  Response r = parse_response(all);
  EXPECT_EQ(404, r.status);
  EXPECT_EQ("close", field(r.header, "Connection"));
  EXPECT_EQ(std::string::npos, all.find("hello"));
}

TEST(HttpServer, HandlerAskingToCloseEndsTheConnection) {
  int fd = connect_server();
  send_text(fd, "GET /close HTTP/1.1\r\nHost: x\r\n\r\n");
  Response r = parse_response(read_response(fd));
  EXPECT_EQ(204, r.status);
  EXPECT_TRUE(closed_by_server(fd, 3000));
  close(fd);
}

TEST(HttpServer, IdleKeepAliveConnectionIsClosedAfterTheTimeout) {
  unsigned int old = HTTP_server_set_idle_timeout(300);
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  send_text(fd, "GET /small HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ("hello", parse_response(read_response(fd)).body);
  EXPECT_FALSE(closed_by_server(fd, 100));
  EXPECT_TRUE(closed_by_server(fd, 2000));
  close(fd);
  HTTP_server_set_idle_timeout(old);
}

TEST(HttpServer, SlowHeaderIsCutOffAtTheHeaderTimeout) {
  unsigned int old = HTTP_server_set_header_timeout(500);
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  const std::string request = "GET /small HTTP/1.1\r\nHost: x\r\n\r\n";
  bool closed = false;
  for (size_t i = 0; i < request.size() && !closed; ++i) {
    send_text(fd, request.substr(i, 1));
    closed = closed_by_server(fd, 100);
  }
  EXPECT_TRUE(closed);
  close(fd);
  HTTP_server_set_header_timeout(old);
  // A header that arrives in pieces, but in time, is served.
  fd = connect_server();
  for (size_t i = 0; i < request.size(); i += 8) {
    send_text(fd, request.substr(i, 8));
    usleep(20000);
  }
  EXPECT_EQ("hello", parse_response(read_response(fd)).body);
  close(fd);
}

TEST(HttpServer, GarbageAndOversizedHeaders) {
  EXPECT_EQ("", round_trip("\x16\x03\x01 binary nonsense\r\n\r\n", 2000));
  // A header longer than the record keeps is cut and still served.
  std::string long_header = "GET /small HTTP/1.1\r\nConnection: close\r\nX: " + std::string(20000, 'x') + "\r\n\r\n";
  std::string got = round_trip(long_header, 3000);
  EXPECT_EQ("hello", parse_response(got).body) << got.size() << " " << got.substr(0, 200);
  // One that does not end within the bound closes the connection at once.
  int fd = connect_server();
  ASSERT_GE(fd, 0);
  send_text(fd, "GET /small HTTP/1.1\r\nX: " + std::string(40000, 'x'));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(closed_by_server(fd, 3000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  close(fd);
  EXPECT_EQ(200, parse_response(round_trip("GET /small HTTP/1.0\r\n\r\n")).status);
}

}  // namespace
