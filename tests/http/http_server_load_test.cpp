// The server under load on 127.0.0.1, bounded in time and count: wrk with
// 200 concurrent keep-alive connections, and slow senders holding hundreds
// of connections while normal requests must still be answered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "http_server_test_util.h"

namespace {

bool have_wrk() {
  int status = 0;
  run_command("command -v wrk >/dev/null 2>&1", &status);
  return status == 0;
}

TEST(HttpServerLoad, TwoHundredKeepAliveConnectionsForTenSecondsWithoutErrors) {
  if (!have_wrk()) GTEST_SKIP() << "wrk is not installed (scripts/setup bench)";
  int status = 0;
  std::string out = run_command("timeout 40 wrk -t2 -c200 -d10s --timeout 5s " + test_url("/small") + " 2>&1", &status);
  ASSERT_EQ(0, status) << out;
  EXPECT_EQ(std::string::npos, out.find("Socket errors")) << out;
  EXPECT_EQ(std::string::npos, out.find("Non-2xx")) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("([0-9]+) requests in"))) << out;
  long requests = std::stol(m[1]);
  EXPECT_GT(requests, 10000) << out;
  // The connection threads end with their connections.
  for (int i = 0; i < 100 && HTTP_server_connection_count() > 0; ++i) usleep(50000);
  EXPECT_EQ(0, HTTP_server_connection_count());
}

// Opens `count` connections that each send one byte of a header per second.
class SlowSenders {
 public:
  explicit SlowSenders(int count) {
    for (int i = 0; i < count; ++i) {
      int fd = connect_server(1000);
      if (fd >= 0) fds_.push_back(fd);
    }
    thread_ = std::thread([this] {
      const std::string header = "GET /small HTTP/1.1\r\nHost: slow\r\nX-Slow: ";
      size_t pos = 0;
      while (!stop_) {
        for (int fd : fds_) send_text(fd, std::string(1, header[pos % header.size()]));
        ++pos;
        for (int i = 0; i < 10 && !stop_; ++i) usleep(100000);
      }
    });
  }
  ~SlowSenders() {
    stop_ = true;
    thread_.join();
    for (int fd : fds_) close(fd);
  }
  size_t opened() const { return fds_.size(); }
  // Connections the server has closed by now.
  int closed_by_server_count() {
    int n = 0;
    for (int fd : fds_) n += closed_by_server(fd, 0) ? 1 : 0;
    return n;
  }

 private:
  std::vector<int> fds_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(HttpServerLoad, SlowSendersDoNotStopNormalRequests) {
  unsigned int old = HTTP_server_set_header_timeout(3000);
  {
    SlowSenders slow(300);
    ASSERT_EQ(300u, slow.opened());
    auto start = std::chrono::steady_clock::now();
    int answered = 0;
    std::chrono::steady_clock::duration slowest{};
    for (int i = 0; i < 20; ++i) {
      auto asked = std::chrono::steady_clock::now();
      Response r = parse_response(round_trip("GET /small HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 5000));
      slowest = std::max(slowest, std::chrono::steady_clock::now() - asked);
      answered += r.status == 200 && r.body == "hello";
      usleep(200000);
    }
    EXPECT_EQ(20, answered) << "slowest answer "
                            << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count() << " ms";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    // After the header time-out the slow connections have been dropped.
    usleep(1500000);
    EXPECT_EQ(300, slow.closed_by_server_count());
  }
  HTTP_server_set_header_timeout(old);
}

TEST(HttpServerLoad, ConnectionsBeyondTheBoundAreRefusedNotQueuedForever) {
  int old = HTTP_server_set_max_connections(20);
  // Each holds its thread inside a request whose body is still to come, so
  // no connection is idle and no room can be made.
  std::vector<int> busy;
  for (int i = 0; i < 20; ++i) {
    busy.push_back(connect_server(1000));
    send_text(busy.back(), "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc");
  }
  for (int i = 0; i < 50 && HTTP_server_connection_count() < 20; ++i) usleep(20000);
  EXPECT_EQ(20, HTTP_server_connection_count());
  int extra = connect_server(2000);
  ASSERT_GE(extra, 0);
  // Closed at once instead of holding a thread.
  EXPECT_TRUE(closed_by_server(extra, 2000));
  close(extra);
  for (int fd : busy) close(fd);
  for (int i = 0; i < 100 && HTTP_server_connection_count() > 0; ++i) usleep(20000);
  EXPECT_EQ(0, HTTP_server_connection_count());
  HTTP_server_set_max_connections(old);
  EXPECT_EQ(200, parse_response(round_trip("GET /small HTTP/1.0\r\n\r\n")).status);
}

}  // namespace
