// The bounded fetch of descriptions: a description above the bound is
// refused whatever its framing, and one that streams without end is cut off
// at the bound, so neither the process's memory nor the bytes taken from the
// peer grow with what the peer sends. Servers run on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp_test_util.h"
#include "http/http_client.h"
#include "http_test_server.h"

using cp_test::CpTest;
using cp_test::LogFile;
using cp_test::wait_until;

namespace {

constexpr uint64_t kBound = UPNP_CP_MAX_DESCRIPTION_SIZE;
constexpr uint64_t kPiece = 64 * 1024;
// What a streaming server sends at most before giving up on its own.
constexpr uint64_t kStreamCap = 256ull * 1024 * 1024;

// kB of a /proc/self/status line, or -1.
long status_kb(const char *field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  }
  return -1;
}

// Resets the peak resident size, so that VmHWM afterwards tells the peak of
// what runs in between.
void reset_peak_rss() {
  std::FILE *f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return;
  std::fputs("5", f);
  std::fclose(f);
}

// Body framings the servers below use.
enum class Framing { kChunked, kUntilClose, kHugeLength };

std::string head(Framing framing) {
  switch (framing) {
    case Framing::kChunked: return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n";
    case Framing::kUntilClose: return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n";
    case Framing::kHugeLength: return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000000\r\n\r\n";
  }
  return "";
}

std::string piece_in(Framing framing, const std::string &data) {
  if (framing != Framing::kChunked) return data;
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  return size + data + "\r\n";
}

// A server that streams a description without end (until the client goes
// away or kStreamCap is sent) and counts what it sent.
class EndlessServer {
 public:
  explicit EndlessServer(Framing framing)
      : server_([this, framing](TestServer &, int fd, const std::string &) {
          timeval tv{5, 0};
          setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
          if (!TestServer::send_all(fd, head(framing) + piece_in(framing, "<?xml version=\"1.0\"?><root><!--")))
            return;
          std::string piece = piece_in(framing, std::string(kPiece, 'x'));
          while (sent_ < kStreamCap && TestServer::send_all(fd, piece)) sent_ += kPiece;
        }) {}
  std::string url() const { return server_.url("/desc.xml"); }
  uint64_t sent() const { return sent_; }
  int requests() { return static_cast<int>(server_.requests().size()); }

 private:
  std::atomic<uint64_t> sent_{0};
  TestServer server_;
};

// A server answering every request with a body of exactly `size` bytes.
class SizedServer {
 public:
  SizedServer(Framing framing, uint64_t size)
      : server_([framing, size](TestServer &, int fd, const std::string &) {
          std::string body = "<?xml version=\"1.0\"?><root><!--";
          body += std::string(size - body.size() - 10, 'y');
          body += "--></root>";
          std::string text = head(framing);
          for (size_t at = 0; at < body.size(); at += 100000) text += piece_in(framing, body.substr(at, 100000));
          if (framing == Framing::kChunked) text += "0\r\n\r\n";
          TestServer::send_all(fd, text);
        }) {}
  std::string url() const { return server_.url("/desc.xml"); }

 private:
  TestServer server_;
};

class FetchBoundTest : public ::testing::TestWithParam<Framing> {};

// Each framing streams far more than the bound; the fetch fails, takes not
// much more than the bound off the peer and holds no more than that.
TEST_P(FetchBoundTest, AnEndlessDescriptionIsCutOffAtTheBound) {
  LogFile log;
  EndlessServer server(GetParam());
  int64_t used_before = upnp_mem_used();
  int64_t peak_before = upnp_max_mem_used();
  long rss_before = status_kb("VmRSS");
  reset_peak_rss();
  char *body = cp_fetch_text(server.url().c_str());
  long hwm = status_kb("VmHWM");
  EXPECT_EQ(body, nullptr);
  upnp_free_impl(body);
  // Loopback socket buffers hold a few MiB; the old read went on to 64 MiB.
  EXPECT_LT(server.sent(), 24ull * 1024 * 1024) << "bytes the peer could send";
  // Accounted memory: a peak raised by the fetch stays near the bound.
  int64_t peak = upnp_max_mem_used();
  EXPECT_TRUE(peak <= peak_before || peak - used_before < 2 * 1024 * 1024) << "accounted peak " << peak;
  EXPECT_EQ(upnp_mem_used(), used_before);
  ASSERT_GT(rss_before, 0);
  EXPECT_LT(hwm - rss_before, 16 * 1024) << "kB of resident memory added";
  const char *said = GetParam() == Framing::kHugeLength ? "too large: 100000000 bytes" : "too large: more than 524288 bytes";
  EXPECT_EQ(log.count(said), 1);
}

class FetchExactTest : public ::testing::TestWithParam<Framing> {};

TEST_P(FetchExactTest, ADescriptionOfExactlyTheBoundIsTakenOneByteMoreIsNot) {
  SizedServer fits(GetParam(), kBound);
  char *body = cp_fetch_text(fits.url().c_str());
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(std::strlen(body), kBound);
  EXPECT_EQ(std::strncmp(body, "<?xml", 5), 0);
  EXPECT_EQ(std::strcmp(body + kBound - 10, "--></root>"), 0);
  upnp_free_impl(body);
  SizedServer over(GetParam(), kBound + 1);
  body = cp_fetch_text(over.url().c_str());
  EXPECT_EQ(body, nullptr);
  upnp_free_impl(body);
}

std::string framing_name(const ::testing::TestParamInfo<Framing> &info) {
  switch (info.param) {
    case Framing::kChunked: return "Chunked";
    case Framing::kUntilClose: return "UntilClose";
    default: return "HugeLength";
  }
}

INSTANTIATE_TEST_SUITE_P(Framings, FetchBoundTest,
                         ::testing::Values(Framing::kChunked, Framing::kUntilClose, Framing::kHugeLength),
                         framing_name);
// Bodies that carry no length of their own.
INSTANTIATE_TEST_SUITE_P(Framings, FetchExactTest, ::testing::Values(Framing::kChunked, Framing::kUntilClose),
                         framing_name);

// The client's bounded read on its own: the bound given, the over flag and
// the length, for a body within and beyond it.
TEST(BoundedReadTest, OverFlagAndLengthFollowTheBound) {
  SizedServer server(Framing::kChunked, 4000);
  for (uint64_t bound : {4000ull, 3999ull}) {
    int socket = HTTP_open(server.url().c_str());
    ASSERT_GE(socket, 0);
    ASSERT_EQ(HTTP_get_request(socket, server.url().c_str(), nullptr), 0);
    char header[HTTP_HEADER_BUFFER_SIZE];
    ASSERT_GT(HTTP_get_header(socket, header, sizeof header), 0);
    uint64_t length = 77;
    int over = -1;
    char *body = HTTP_receive_body_bounded(socket, header, bound, &length, &over);
    if (bound == 4000) {
      ASSERT_NE(body, nullptr);
      EXPECT_EQ(length, 4000u);
      EXPECT_EQ(over, 0);
    } else {
      EXPECT_EQ(body, nullptr);
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(over, 1);
    }
    upnp_free_impl(body);
    close(socket);
  }
}

// Through the table: a renderer whose description never ends is never
// added, the log says why, and its slot is given back.
class FetchTableTest : public CpTest {};

TEST_F(FetchTableTest, ARendererWithAnEndlessDescriptionIsNeverAdded) {
  LogFile log;
  ASSERT_EQ(upnp_cp_start(0, 0), 0);
  upnp_control_register_callback(&CpTest::callback);
  EndlessServer endless(Framing::kChunked);
  std::string good = serve_device("uuid:renderer-00f001", 2, "Good One");
  reset_peak_rss();
  long rss_before = status_kb("VmRSS");
  upnp_control_add_device(endless.url().c_str(), "uuid:renderer-00f002", "127.0.0.1:9000", 1800, 2);
  upnp_control_add_device(good.c_str(), "uuid:renderer-00f001", "127.0.0.1:9000", 1800, 2);
  ASSERT_TRUE(wait_until([&] { return log.count("loadDeviceInfo: Cannot get device description for uuid:renderer-00f002") == 1; }, 20000));
  ASSERT_TRUE(wait_until([&] { return index_of("uuid:renderer-00f002", 2) < 0; }, 2000));
  EXPECT_GE(log.count("too large: more than 524288 bytes"), 1);
  EXPECT_GE(endless.requests(), 1);
  long hwm = status_kb("VmHWM");
  ASSERT_GT(rss_before, 0);
  EXPECT_LT(hwm - rss_before, 24 * 1024) << "kB of resident memory added";
  ASSERT_TRUE(wait_until([&] { return count_events(UPNP_CP_EVENT_ADDED, 2, index_of("uuid:renderer-00f001", 2)) == 1; }, 3000));
  EXPECT_EQ(events().size(), 1u);  // only the good renderer
}

// A valid service description of exactly `size` bytes (padded by a comment).
std::string padded_scpd(uint64_t size) {
  const std::string head = "<?xml version=\"1.0\"?><scpd><!--";
  const std::string tail = "--><actionList><action><name>Play</name></action></actionList></scpd>";
  return head + std::string(size - head.size() - tail.size(), 'p') + tail;
}

// A renderer whose AVTransport service description passes the bound, with a
// declared length or streamed without end, is not added, as one whose device
// description passes it; one of exactly the bound is added.
TEST_F(FetchTableTest, ARendererWithAnOversizedServiceDescriptionIsNotAdded) {
  LogFile log;
  ASSERT_EQ(upnp_cp_start(0, 0), 0);
  upnp_control_register_callback(&CpTest::callback);
  EndlessServer endless(Framing::kChunked);
  struct Case {
    std::string udn, avt_body, avt_url;
    bool added;
  } cases[] = {
      {"uuid:renderer-00f011", padded_scpd(kBound), "", true},
      {"uuid:renderer-00f012", padded_scpd(kBound + 1), "", false},
      {"uuid:renderer-00f013", "", endless.url(), false},
  };
  for (const Case &c : cases) {
    std::string tail = c.udn.substr(c.udn.size() - 6);
    std::string location = serve_device(c.udn, 2, "R" + tail);
    if (!c.avt_url.empty()) {
      std::string text = cp_test::description(c.udn, "urn:schemas-upnp-org:device:MediaRenderer:1", "R" + tail,
                                              {"CM", "RC", "AVT"});
      std::string relative = "<SCPDURL>/" + tail + "/AVT.xml</SCPDURL>";
      text.replace(text.find(relative), relative.size(), "<SCPDURL>" + c.avt_url + "</SCPDURL>");
      server_.put("/" + tail + "/desc.xml", text);
    } else {
      server_.put("/" + tail + "/AVT.xml", c.avt_body);
    }
    upnp_control_add_device(location.c_str(), c.udn.c_str(), "127.0.0.1:9000", 1800, 2);
  }
  for (const Case &c : cases) {
    if (c.added) {
      EXPECT_TRUE(wait_until([&] { return count_events(UPNP_CP_EVENT_ADDED, 2, index_of(c.udn, 2)) == 1; }, 5000))
          << c.udn;
    } else {
      EXPECT_TRUE(wait_until([&] { return index_of(c.udn, 2) < 0; }, 10000)) << c.udn;
      EXPECT_EQ(log.count("loadDeviceInfo: Not adding renderer " + c.udn), 1) << c.udn;
    }
  }
  EXPECT_EQ(events().size(), 1u);
}

}  // namespace
