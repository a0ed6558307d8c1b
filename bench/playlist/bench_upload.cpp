// Uploads 64 MiB to a POST sink on 127.0.0.1 through lm_dmscp_upload (a
// crafted ContentDirectory gives the sink as the import address) with 1 MiB
// blocks, and 2 MiB of it with 8 KiB blocks (the 10 ms pauses before and
// after each block bound that rate, so more bytes would only take longer),
// beside one curl process posting the same file to the same sink. Prints
// MB/s and the ratios of the times to curl's for the same byte count
// (target for 1 MiB blocks: within 1.3 of curl). Best of three rounds
// (one for 8 KiB blocks). Needs no lab: only loopback is used.
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_dms_server.h"
#include "playlist/lm_dmscp_upload.h"
#include "support_files.h"
#include "support_tcp.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBig = 64u << 20;
constexpr size_t kSmall = 2u << 20;
const char *const kUdn = "uuid:bench-upload-server";

// Reads each request's body by its length and discards it, answering
// "100 Continue" first and "201 Created" at the end; counts the bytes.
class DiscardSink {
 public:
  DiscardSink() {
    fd_ = test_support::listen_tcp("127.0.0.1", &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~DiscardSink() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/sink"; }
  size_t last_body() const { return last_.load(); }

 private:
  void run() {
    while (!stop_) {
      int c = test_support::accept_within(fd_, 50);
      if (c < 0) continue;
      std::string all = test_support::read_header(c);
      size_t end = all.find("\r\n\r\n");
      const char *length = end != std::string::npos ? strcasestr(all.c_str(), "\r\nContent-Length:") : nullptr;
      size_t want = length != nullptr ? std::strtoull(length + 17, nullptr, 10) : 0;
      size_t have = end != std::string::npos ? all.size() - end - 4 : 0;
      test_support::send_all(c, "HTTP/1.1 100 Continue\r\n\r\n");
      static char buffer[1 << 20];
      while (have < want) {
        ssize_t n = recv(c, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
      }
      last_ = have;
      test_support::send_all(c, "HTTP/1.1 201 Created\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      char tail[16];
      struct pollfd p = {c, POLLIN, 0};
      if (poll(&p, 1, 2000) > 0) (void)recv(c, tail, sizeof tail, 0);
      close(c);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> last_{0};
  std::thread thread_;
};

struct FileFeed {
  FILE *file = nullptr;
  size_t left = 0;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  uint32_t result = 0;

  static int callback(uint32_t, void **user, uint32_t size, char *buffer, uint32_t *length) {
    FileFeed &f = *static_cast<FileFeed *>(*user);
    if (buffer == nullptr) {
      std::lock_guard<std::mutex> hold(f.mutex);
      f.result = size;
      f.done = true;
      f.cv.notify_all();
      return 0;
    }
    size_t want = std::min<size_t>(size, f.left);
    size_t n = std::fread(buffer, 1, want, f.file);
    f.left -= n;
    *length = static_cast<uint32_t>(n);
    return f.left > 0 ? 1 : 0;
  }
};

// One upload of the file's first `bytes`; seconds, or -1 on failure.
double round_ours(const std::string &path, size_t bytes, uint32_t block, DiscardSink &sink) {
  FileFeed feed;
  feed.file = std::fopen(path.c_str(), "rb");
  feed.left = bytes;
  if (feed.file == nullptr) return -1;
  auto begin = Clock::now();
  lm_nmc_result_t rc =
      lm_dmscp_upload(0, &feed, "bench", "http-get:*:audio/mpeg:*", block, FileFeed::callback, 0, nullptr, bytes);
  if (rc == 0) {
    std::unique_lock<std::mutex> hold(feed.mutex);
    feed.cv.wait(hold, [&] { return feed.done; });
  }
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  std::fclose(feed.file);
  if (rc != 0 || feed.result != 0 || sink.last_body() != bytes) {
    std::printf("upload failed: answer %u, result %u, %zu bytes arrived\n", rc, feed.result, sink.last_body());
    return -1;
  }
  return seconds;
}

double round_curl(const std::string &path, DiscardSink &sink, size_t bytes) {
  auto begin = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "--silent", "--show-error", "--fail", "--max-time", "120", "-o", "/dev/null", "-H",
           "Content-Type: audio/mpeg", "--data-binary", ("@" + path).c_str(), sink.url().c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || sink.last_body() != bytes) return -1;
  return seconds;
}

double best(int rounds, const std::function<double()> &round) {
  double b = -1;
  for (int i = 0; i < rounds; ++i) {
    double s = round();
    if (s < 0) return -1;
    if (b < 0 || s < b) b = s;
  }
  return b;
}

}  // namespace

int main() {
  if (std::system("curl --version >/dev/null 2>&1") != 0) {
    std::printf("curl not found: reference missing, benchmark skipped\n");
    return 77;
  }
  test_support::TempDir dir("bench_upload");
  const std::string big = (dir.path() / "big.bin").string();
  const std::string small = (dir.path() / "small.bin").string();
  {
    std::string data(kBig, '\0');
    unsigned x = 12345;
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    test_support::write_file(big, data);
    test_support::write_file(small, data.substr(0, kSmall));
  }
  DiscardSink sink;
  nmc_test::CdsServer server(kUdn, "Bench Upload Server");
  const std::string import = sink.url();
  server.reply = [&](const nmc_test::CdsCall &call) -> std::string {
    if (call.action != "CreateObject") return std::string();
    std::string didl =
        "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><item id=\"b1\" parentID=\"0\" restricted=\"0\">"
        "<dc:title>bench</dc:title><res protocolInfo=\"http-get:*:audio/mpeg:*\" importUri=\"" + import +
        "\"/></item></DIDL-Lite>";
    return nmc_test::CdsServer::soap_ok(
        "<u:CreateObjectResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ObjectID>b1"
        "</ObjectID><Result>" + nmc_test::CdsServer::escape(didl) + "</Result></u:CreateObjectResponse>");
  };
  nmc_set_network(0);
  const std::string log = (dir.path() / "nmc.log").string();
  const char *argv[] = {"bench_upload", "--logfile", log.c_str()};
  if (lm_nmc_init(3, argv, 0) != 1) {
    std::printf("controller did not start\n");
    return 1;
  }
  upnp_control_add_device(server.description_url().c_str(), kUdn, "127.0.0.1:9000", 1800, 1);
  for (int i = 0; i < 500 && !nmc_devices_find_udn(NMC_SIDE_SERVER, kUdn, nullptr); ++i) Sleep(10);

  round_curl(big, sink, kBig);  // warm-up (page cache, curl's first start)
  double curl_big = best(3, [&] { return round_curl(big, sink, kBig); });
  double curl_small = best(3, [&] { return round_curl(small, sink, kSmall); });
  double ours_1m = best(3, [&] { return round_ours(big, kBig, 1u << 20, sink); });
  double ours_8k = best(1, [&] { return round_ours(small, kSmall, 8192, sink); });
  lm_nmc_stop();
  nmc_wait_stopped(20000);
  if (curl_big < 0 || curl_small < 0 || ours_1m < 0 || ours_8k < 0) {
    std::printf("a round failed\n");
    return 1;
  }
  auto mbs = [](size_t bytes, double s) { return bytes / s / 1e6; };
  std::printf("curl      64 MiB: %8.3f s  %8.1f MB/s\n", curl_big, mbs(kBig, curl_big));
  std::printf("1 MiB     64 MiB: %8.3f s  %8.1f MB/s  ratio to curl %.2f (target <= 1.3)\n", ours_1m,
              mbs(kBig, ours_1m), ours_1m / curl_big);
  std::printf("curl       2 MiB: %8.3f s  %8.1f MB/s\n", curl_small, mbs(kSmall, curl_small));
  std::printf("8 KiB      2 MiB: %8.3f s  %8.1f MB/s  ratio to curl %.2f (bounded by the 10 ms pauses)\n", ours_8k,
              mbs(kSmall, ours_8k), ours_8k / curl_small);
  return 0;
}
