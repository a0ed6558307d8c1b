// Fetches a 200 KB device description 1000 times from a server on 127.0.0.1
// with HTTP_get (a new connection each time, as the client always does) and
// compares the wall time with one curl process fetching the same URL the same
// number of times from a URL list. The server answers "Connection: close", so
// curl opens a new connection for every fetch too. Prints the ratio
// (ours / curl; below 1 means faster than curl). Best of three rounds each.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "base/upnp_mem.h"
#include "http/http_client.h"

namespace {

constexpr int kFetches = 1000;
constexpr int kRounds = 3;
constexpr size_t kBodySize = 200 * 1024;
constexpr double kMaxRoundSeconds = 60.0;

std::string make_description() {
  std::string body = "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\n";
  for (int i = 0; body.size() < kBodySize - 200; ++i) {
    body += "<service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType><serviceId>id" +
            std::to_string(i) + "</serviceId></service>\n";
  }
  body += "</root>\n";
  body.resize(kBodySize, '\n');
  return body;
}

class Server {
 public:
  explicit Server(const std::string &body)
      : response_("HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd_, 128) != 0) {
      std::perror("bench server");
      std::exit(1);
    }
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Server() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/description.xml"; }
  long served() const { return served_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      std::string req;
      char buf[2048];
      while (req.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
      size_t done = 0;
      while (done < response_.size()) {
        ssize_t n = send(c, response_.data() + done, response_.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      ++served_;
      close(c);
    }
  }

  std::string response_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<long> served_{0};
  std::thread thread_;
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One round with our client; -1 on a wrong answer.
double round_ours(const std::string &url, size_t expected) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kFetches; ++i) {
    char *body = HTTP_get(url.c_str());
    bool ok = body && std::strlen(body) == expected;
    upnp_free_impl(body);
    if (!ok) {
      std::fprintf(stderr, "fetch %d failed\n", i);
      return -1;
    }
    if (seconds_since(t0) > kMaxRoundSeconds) return -1;
  }
  return seconds_since(t0);
}

// One round with one curl process over a URL list; -1 on failure.
double round_curl(const std::string &config) {
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "--silent", "--show-error", "--fail", "--max-time", "60", "-K", config.c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return seconds_since(t0);
}

}  // namespace

int main() {
  if (std::system("curl --version >/dev/null 2>&1") != 0) {
    std::printf("curl not found: reference missing, benchmark skipped\n");
    return 77;
  }
  upnp_mem_init();
  const std::string body = make_description();
  Server server(body);
  const std::string url = server.url();

  char config[] = "/tmp/bench_http_fetch_XXXXXX";
  int cfd = mkstemp(config);
  if (cfd < 0) return 1;
  close(cfd);
  {
    std::ofstream out(config);
    for (int i = 0; i < kFetches; ++i) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
  }

  // Warm up both sides (page cache, lazy binding, curl's first start).
  for (int i = 0; i < 20; ++i) upnp_free_impl(HTTP_get(url.c_str()));
  round_curl(config);

  double best_ours = 1e9, best_curl = 1e9;
  for (int r = 0; r < kRounds; ++r) {
    double c = round_curl(config);
    double o = round_ours(url, body.size());
    if (c < 0 || o < 0) {
      std::printf("benchmark failed (curl %.3f s, ours %.3f s)\n", c, o);
      std::remove(config);
      return 1;
    }
    std::printf("round %d: HTTP_get %.3f s, curl %.3f s\n", r + 1, o, c);
    if (o < best_ours) best_ours = o;
    if (c < best_curl) best_curl = c;
  }
  std::remove(config);

  double ratio = best_ours / best_curl;
  std::printf("fetch of a %zu-byte description x %d from 127.0.0.1 (new connection each)\n", body.size(), kFetches);
  std::printf("HTTP_get: %.3f s (%.0f fetches/s); curl (one process, URL list): %.3f s (%.0f fetches/s)\n",
              best_ours, kFetches / best_ours, best_curl, kFetches / best_curl);
  std::printf("ratio HTTP_get/curl: %.2f (target: <= 1.00)\n", ratio);
  return 0;
}
