// The pool of connection threads: a flood of idle connections does not shut a
// normal client out, and a connection whose peer goes away mid-request gives
// its thread back at once. 127.0.0.1 only, bounded in count and time.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "http_server_test_util.h"
#include "support_wait.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

bool connection_count_reaches(int count, int ms) {
  return test_support::wait_until([&] { return HTTP_server_connection_count() == count; }, ms);
}

// Connections that the server's listening socket holds, not yet accepted.
int accept_queue_length() {
  tcp_info info{};
  socklen_t size = sizeof info;
  getsockopt(test_server_socket(), IPPROTO_TCP, TCP_INFO, &info, &size);
  return static_cast<int>(info.tcpi_unacked);
}

TEST(HttpServerPool, IdleFloodDoesNotShutOutAClient) {
  constexpr int kIdle = 600;
  rlimit files{};  // both ends of every connection are descriptors of this process
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 2 * kIdle + 100) GTEST_SKIP() << "too few files";
  ASSERT_TRUE(connection_count_reaches(0, 5000));
  std::vector<int> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.push_back(connect_server(1000));
    // Paced so that the listen backlog never overflows (a dropped handshake costs a second).
    if (i % 32 == 31) {
      ASSERT_TRUE(test_support::wait_until([] { return accept_queue_length() == 0; }, 2000));
    }
  }
  auto asked = steady_clock::now();
  Response r = parse_response(round_trip("GET /small HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 2000));
  EXPECT_EQ(200, r.status);
  EXPECT_LT(std::chrono::duration_cast<milliseconds>(steady_clock::now() - asked).count(), 2000);
  EXPECT_LE(HTTP_server_connection_count(), HTTP_SERVER_MAX_CONNECTIONS);
  // Room was made by closing the connections that had waited longest, one
  // for each connection beyond the bound (the client's included).
  int closed = 0, newest_closed = -1;
  for (int i = 0; i < kIdle; ++i) {
    if (closed_by_server(idle[i], 0)) closed++, newest_closed = i;
    close(idle[i]);
  }
  EXPECT_EQ(kIdle - HTTP_SERVER_MAX_CONNECTIONS + 1, closed);
  EXPECT_LT(newest_closed, kIdle / 3);
}

TEST(HttpServerPool, PeerClosingMidRequestGivesItsThreadBackAtOnce) {
  unsigned int old = HTTP_server_set_header_timeout(5000);
  const struct {
    const char *sent;
    bool half_close;  // shuts down its sending side only
  } cases[] = {{"GET /sma", false}, {"GET /small HTTP/1.1\r\nHost: x\r\n\r", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.sent << (c.half_close ? " (half close)" : ""));
    ASSERT_TRUE(connection_count_reaches(0, 6000));
    int fd = connect_server(1000);
    ASSERT_TRUE(connection_count_reaches(1, 2000));
    send_text(fd, c.sent);
    usleep(20000);  // the server peeks at the bytes before the close
    if (c.half_close) {
      shutdown(fd, SHUT_WR);
      EXPECT_TRUE(closed_by_server(fd, 1000));
    }
    close(fd);
    // Well before the header time-out.
    EXPECT_TRUE(connection_count_reaches(0, 1000));
  }
  HTTP_server_set_header_timeout(old);
}

}  // namespace
