// HTTP_receive_file: framings, resume offset, size limit and failure counts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "base/upnp_mem.h"
#include "http/http_client.h"

namespace {

class HttpReceiveFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/http_receive_file_XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = tmpl;
    baseline_ = upnp_mem_used();
  }
  void TearDown() override {
    std::remove(path_.c_str());
    EXPECT_EQ(upnp_mem_used(), baseline_);
  }

  // Feeds header + body through a socket pair (the writer closes afterwards)
  // and receives into the file.
  int receive(const std::string &header, const std::string &body, int max_mb = 0, int64_t offset = 0,
              int64_t *received = nullptr) {
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    std::thread writer([&] {
      size_t done = 0;
      while (done < body.size()) {
        ssize_t n = send(sv[1], body.data() + done, body.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      shutdown(sv[1], SHUT_WR);
    });
    int rc = HTTP_receive_file(sv[0], header.c_str(), path_.c_str(), max_mb, offset, received);
    shutdown(sv[0], SHUT_RDWR);
    writer.join();
    close(sv[0]);
    close(sv[1]);
    return rc;
  }

  std::string contents() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  void prefill(const std::string &text) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << text;
  }

  std::string path_;
  int64_t baseline_ = 0;
};

}  // namespace

TEST_F(HttpReceiveFile, ContentLengthBody) {
  std::string data(300000, 'q');  // more than two 128 KiB pieces
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 300000\r\n\r\n", data + "extra"), 1);
  EXPECT_EQ(contents(), data);
}

TEST_F(HttpReceiveFile, ShortContentLengthBodyFailsWithCount) {
  int64_t received = -1;
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 10\r\n\r\n", "abcd", 0, 0, &received), 0);
  EXPECT_EQ(received, 4);
  EXPECT_EQ(contents(), "abcd");
}

TEST_F(HttpReceiveFile, ResumeAppendsAtMatchingOffset) {
  prefill("12345");
  int64_t received = -1;
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 3\r\n\r\n", "678", 0, 5, &received), 1);
  EXPECT_EQ(contents(), "12345678");
  EXPECT_EQ(received, 8);
}

TEST_F(HttpReceiveFile, ResumeOffsetMismatchFails) {
  prefill("12345");
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 3\r\n\r\n", "678", 0, 4), 0);
  EXPECT_EQ(contents(), "12345");
}

TEST_F(HttpReceiveFile, LimitRefusesAnnouncedTotalBeforeReading) {
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 2097153\r\n\r\n", "abc", 2), 0);
  EXPECT_EQ(contents(), "");
  // Exactly at the limit is fine.
  std::string data(1 << 20, 'm');
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", data, 1), 1);
  EXPECT_EQ(contents().size(), data.size());
}

TEST_F(HttpReceiveFile, HugeContentLengthIsRefused) {
  prefill("ab");
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n", "cd", 0, 2), 0);
  EXPECT_EQ(contents(), "ab");
}

TEST_F(HttpReceiveFile, ChunkedBody) {
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
                    "3;x=y\r\nabc\r\n5\r\ndefgh\r\n0\r\n\r\n"),
            1);
  EXPECT_EQ(contents(), "abcdefgh");
}

TEST_F(HttpReceiveFile, ChunkedFailures) {
  const std::string h = "POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  int64_t received = -1;
  EXPECT_EQ(receive(h, "3\r\nabc\r\n", 0, 0, &received), 0);  // no zero-length chunk
  EXPECT_EQ(received, 3);
  received = -1;
  EXPECT_EQ(receive(h, "3\r\nabc\r\n8\r\nde", 0, 0, &received), 0);  // incomplete chunk
  EXPECT_EQ(received, 5);  // "abc" and "de" of this exchange
  EXPECT_EQ(receive(h, "FFFFFFFFF\r\nx", 0), 0);  // more than 8 hex digits
  // A chunk that would pass the limit fails before it is read.
  EXPECT_EQ(receive(h, "100001\r\n" + std::string(0x100001, 'z') + "\r\n0\r\n\r\n", 1), 0);
}

TEST_F(HttpReceiveFile, UntilCloseOnlyWithCloseOrHttp10) {
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\nConnection: close\r\n\r\n", "whole stream"), 1);
  EXPECT_EQ(contents(), "whole stream");
  EXPECT_EQ(receive("POST /up HTTP/1.1\r\n\r\n", "nothing"), 0);
  EXPECT_EQ(receive("POST /up HTTP/1.0\r\n\r\n", "+more"), 1);
  EXPECT_EQ(contents(), "whole stream+more");
}

TEST_F(HttpReceiveFile, UntilCloseStillHonoursLimit) {
  std::string data((1 << 20) + 1, 'o');
  int64_t received = -1;
  EXPECT_EQ(receive("POST /up HTTP/1.0\r\n\r\n", data, 1, 0, &received), 0);
  EXPECT_GT(received, 1 << 20);
}

TEST_F(HttpReceiveFile, UnwritablePathFails) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  EXPECT_EQ(HTTP_receive_file(sv[0], "POST / HTTP/1.1\r\nContent-Length: 1\r\n\r\n", "/nonexistent-dir/x", 0, 0,
                              nullptr),
            0);
  close(sv[0]);
  close(sv[1]);
}
