// The header reader and the body framings, fed through a socket pair by a
// writer thread.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "base/upnp_mem.h"
#include "http/http_client.h"
#include "http/http_io.h"

namespace {

// The peer writes `wire`, then closes its side (or keeps it open).
class Feed {
 public:
  explicit Feed(std::string wire, bool close_after = true) {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv_), 0);
    struct timeval tv = {5, 0};  // a reader bug must not hang the test
    setsockopt(sv_[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    writer_ = std::thread([this, wire = std::move(wire), close_after] {
      size_t done = 0;
      while (done < wire.size()) {
        ssize_t n = send(sv_[1], wire.data() + done, wire.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (close_after) shutdown(sv_[1], SHUT_WR);
    });
  }
  ~Feed() {
    shutdown(sv_[0], SHUT_RDWR);
    writer_.join();
    close(sv_[0]);
    close(sv_[1]);
  }
  int fd() const { return sv_[0]; }
  // What is left unread on the reader's side.
  std::string rest() {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = recv(sv_[0], buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }

 private:
  int sv_[2] = {-1, -1};
  std::thread writer_;
};

std::string body_of(const std::string &wire, uint64_t *length = nullptr) {
  Feed f(wire);
  char header[HTTP_HEADER_BUFFER_SIZE];
  if (HTTP_get_header(f.fd(), header, sizeof header) <= 0) return "<no header>";
  char *body = HTTP_receive_body_with_length(f.fd(), header, length);
  if (!body) return "<none>";
  std::string out = length ? std::string(body, *length) : std::string(body);
  upnp_free_impl(body);
  return out;
}

class HttpReader : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = upnp_mem_used(); }
  void TearDown() override { EXPECT_EQ(upnp_mem_used(), baseline_) << "accounted memory leaked"; }
  int64_t baseline_ = 0;
};

}  // namespace

TEST_F(HttpReader, HeaderDropsLeadingControlBytesAndStopsAtEmptyLine) {
  Feed f("\r\n\r\nHTTP/1.1 200 OK\r\nA: b\r\n\r\nBODY");
  char h[HTTP_HEADER_BUFFER_SIZE];
  std::string expected = "HTTP/1.1 200 OK\r\nA: b\r\n\r\n";
  ASSERT_EQ(HTTP_get_header(f.fd(), h, sizeof h), static_cast<int>(expected.size()));
  EXPECT_EQ(std::string(h), expected);
  EXPECT_EQ(f.rest(), "BODY");  // nothing of the body was consumed
}

TEST_F(HttpReader, HeaderEndNeedsCrLfCrLf) {
  // Bare LF LF and CR CR LF do not end a header.
  Feed f("HTTP/1.1 200 OK\n\nX: 1\r\r\nY: 2\r\n\r\nZ");
  char h[HTTP_HEADER_BUFFER_SIZE];
  ASSERT_GT(HTTP_get_header(f.fd(), h, sizeof h), 0);
  EXPECT_EQ(std::string(h), "HTTP/1.1 200 OK\n\nX: 1\r\r\nY: 2\r\n\r\n");
  EXPECT_EQ(f.rest(), "Z");
}

TEST_F(HttpReader, HeaderAcceptsMethodsHttpAndIcyOnly) {
  char h[HTTP_HEADER_BUFFER_SIZE];
  for (const char *ok : {"NOTIFY * HTTP/1.1\r\n\r\n", "ICY 200 OK\r\n\r\n", "SUBSCRIBE /e HTTP/1.1\r\n\r\n"}) {
    Feed f(ok);
    EXPECT_GT(HTTP_get_header(f.fd(), h, sizeof h), 0) << ok;
  }
  for (const char *bad : {"M-SEARCH * HTTP/1.1\r\n\r\n", "get / HTTP/1.1\r\n\r\n"}) {
    Feed f(bad);
    EXPECT_EQ(HTTP_get_header(f.fd(), h, sizeof h), 0) << bad;  // not in the method table
  }
  {
    Feed f("garbage that is no header\r\n\r\n");
    EXPECT_EQ(HTTP_get_header(f.fd(), h, sizeof h), 0);
  }
  {
    Feed f("x\r\n\r\n");  // too short for the ten-byte check, still no header
    EXPECT_EQ(HTTP_get_header(f.fd(), h, sizeof h), 0);
  }
  {
    Feed f("HTTP/1.1 200 OK\r\nA: b\r\n");  // closed before the empty line
    EXPECT_EQ(HTTP_get_header(f.fd(), h, sizeof h), 0);
  }
}

TEST_F(HttpReader, HeaderOfExactly8191BytesIsKeptWhole) {
  std::string head = "HTTP/1.1 200 OK\r\nX-Pad: ";
  std::string tail = "\r\nContent-Length: 4\r\n\r\n";
  std::string header = head + std::string(8191 - head.size() - tail.size(), 'p') + tail;
  ASSERT_EQ(header.size(), 8191u);
  Feed f(header + "BODY");
  char h[HTTP_HEADER_BUFFER_SIZE];
  ASSERT_EQ(HTTP_get_header(f.fd(), h, sizeof h), 8191);
  EXPECT_EQ(std::string(h), header);
  char *body = HTTP_receive_body(f.fd(), h);
  ASSERT_NE(body, nullptr);
  EXPECT_STREQ(body, "BODY");
  upnp_free_impl(body);
}

TEST_F(HttpReader, OversizedHeaderIsCutAndRestDiscardedUpToEmptyLine) {
  std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-Pad: " + std::string(12000, 'p') + "\r\nX-End: 1\r\n\r\n";
  Feed f(header + "BODY");
  char h[HTTP_HEADER_BUFFER_SIZE];
  ASSERT_EQ(HTTP_get_header(f.fd(), h, sizeof h), 8191);
  std::string got(h);
  EXPECT_EQ(got.size(), 8191u);
  EXPECT_EQ(got.substr(8187), "\r\n\r\n");
  EXPECT_EQ(got.substr(0, 8187), header.substr(0, 8187));
  EXPECT_EQ(f.rest(), "BODY");
}

TEST_F(HttpReader, ChunkedGetRequestBodyIsDiscarded) {
  Feed f("GET /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\nNEXT");
  char h[HTTP_HEADER_BUFFER_SIZE];
  ASSERT_GT(HTTP_get_header(f.fd(), h, sizeof h), 0);
  std::string rest = f.rest();
  EXPECT_EQ(rest.find("abc"), std::string::npos);
  EXPECT_NE(rest.find("NEXT"), std::string::npos);
}

TEST_F(HttpReader, ChunkedBodyWithSeveralChunksAndExtensions) {
  std::string ext(100, 'e');  // longer than the parsed part of a size line
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "5;name=value\r\nhello\r\n1\r\n \r\nA;" + ext + "\r\n0123456789\r\n0\r\n\r\n"),
            "hello 0123456789");
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n0\r\n\r\n"), "abcde");
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"), "");
}

TEST_F(HttpReader, ChunkedBodyKeepsZeroBytes) {
  uint64_t len = 0;
  std::string data("a\0b\0c", 5);
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n" + data + "\r\n0\r\n\r\n", &len), data);
  EXPECT_EQ(len, 5u);
}

TEST_F(HttpReader, ChunkedBodyCutByPeerIsNoBody) {
  const std::string h = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(body_of(h + "a\r\n01234"), "<none>");                // inside a chunk
  EXPECT_EQ(body_of(h + "5\r\nabcde\r\n"), "<none>");            // before the zero chunk
  EXPECT_EQ(body_of(h + "5\r\nabcde"), "<none>");                // before the chunk end
  EXPECT_EQ(body_of(h + "5"), "<none>");                         // inside a size line
}

TEST_F(HttpReader, ChunkSizesThatWouldOverflowOrExhaustMemoryFail) {
  const std::string h = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(body_of(h + "FFFFFFFFFFFFFFFFFFFF\r\nabc"), "<none>");
  EXPECT_EQ(body_of(h + "7FFFFFFF\r\nabc"), "<none>");      // above the body bound
  EXPECT_EQ(body_of(h + "zz\r\nabc\r\n0\r\n\r\n"), "<none>"); // no digits
  EXPECT_EQ(body_of(h + std::string(5000, ' ') + "\r\n"), "<none>");  // endless size line
  // A large chunk within the bound is not allocated up front; cut short, it is
  // no body.
  EXPECT_EQ(body_of(h + "3FFFFFF\r\nabc"), "<none>");
}

// The chunks of a chunked body read with a limit: result, body (or
// "<none>") and what was left unread.
struct Chunked {
  http_chunked_result result;
  std::string body, rest;
};

Chunked chunked_of(const std::string &wire, uint64_t limit) {
  Feed f(wire);
  char *body = nullptr;
  uint64_t length = 0;
  Chunked out{http_read_chunked_body(f.fd(), limit, &body, &length), "<none>", ""};
  if (body != nullptr) {
    out.body.assign(body, length);
    upnp_free_impl(body);
  }
  out.rest = f.rest();
  return out;
}

TEST_F(HttpReader, ChunkedBodyWithALimitLeavesTheTrailerUnread) {
  Chunked c = chunked_of("5;x=y\r\nhello\r\n1\r\n \r\n0\r\nTrailer: t\r\n\r\nNEXT", 6);
  EXPECT_EQ(c.result, HTTP_CHUNKED_OK);
  EXPECT_EQ(c.body, "hello ");  // exactly the limit
  EXPECT_EQ(c.rest, "Trailer: t\r\n\r\nNEXT");
  c = chunked_of("0\r\n\r\n", 0);
  EXPECT_EQ(c.result, HTTP_CHUNKED_OK);
  EXPECT_EQ(c.body, "");
}

TEST_F(HttpReader, ChunkedBodyAboveTheLimitIsToldApartFromAMalformedOne) {
  EXPECT_EQ(chunked_of("5\r\nhello\r\n2\r\n!!\r\n0\r\n\r\n", 6).result, HTTP_CHUNKED_TOO_LARGE);
  EXPECT_EQ(chunked_of("7\r\nhello!!\r\n0\r\n\r\n", 6).result, HTTP_CHUNKED_TOO_LARGE);
  // The limit is checked before any data of the chunk is taken.
  EXPECT_EQ(chunked_of("FFFFFFFFFFFFFFF\r\nabc", 1024).result, HTTP_CHUNKED_TOO_LARGE);
  Chunked c = chunked_of("zz\r\nabc\r\n0\r\n\r\n", 1024);
  EXPECT_EQ(c.result, HTTP_CHUNKED_FAILED);
  EXPECT_EQ(c.body, "<none>");
  EXPECT_EQ(chunked_of("5\r\nabc", 1024).result, HTTP_CHUNKED_FAILED);  // cut by the peer
  EXPECT_EQ(chunked_of("5\r\nabcde", 1024).result, HTTP_CHUNKED_FAILED);
}

TEST_F(HttpReader, ChunkSizeThatWouldWrapAroundIsNeverASmallChunk) {
  // 2^64 + 3 wraps to 3 in 64 bits: the data "abc" must not be taken as the
  // chunk, nor 2^64 as the end of the body.
  for (const char *line : {"10000000000000003", "10000000000000000", "FFFFFFFFFFFFFFFFFFFF"}) {
    Chunked c = chunked_of(std::string(line) + "\r\nabc\r\n0\r\n\r\n", 1024);
    EXPECT_NE(c.result, HTTP_CHUNKED_OK) << line;
    EXPECT_EQ(c.body, "<none>") << line;
  }
}

TEST_F(HttpReader, ContentLengthBody) {
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA"), "hello");
  // A peer that sends less than it announced still gives what it sent.
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), "abc");
  // An announced size above the bound is refused before anything is allocated.
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\nabc"), "<none>");
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\nabc"), "<none>");
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: nope\r\nConnection: close\r\n\r\nabc"), "<none>");
}

TEST_F(HttpReader, ReadUntilCloseNeedsCloseOrHttp10) {
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil close"), "until close");
  EXPECT_EQ(body_of("HTTP/1.0 200 OK\r\n\r\nold style"), "old style");
  EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\n\r\nnot framed"), "<none>");
  std::string big(100000, 'z');
  EXPECT_EQ(body_of("HTTP/1.0 200 OK\r\n\r\n" + big), big);
}

TEST_F(HttpReader, MissingHeaderGivesNoBody) {
  Feed f("abc");
  EXPECT_EQ(HTTP_receive_body(f.fd(), nullptr), nullptr);
}
