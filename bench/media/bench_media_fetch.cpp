// ZelUtil::HttpGet and ZelUtil::GetHttpHeader fetching from the lab's fake
// site (run through tests/lab/lab.sh) 1,000 times each, beside one curl
// process fetching the same URL list in the same run. The fake site answers
// HTTP/1.0 with "Connection: close", so curl opens a new connection for every
// URL as we do. HttpGet fetches a data-feed entry (a small body), GetHttpHeader
// a stream request (a redirect, not followed by either side). Best of three
// rounds each; prints the ratios (ours / curl; target <= 1.2).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_util.h"

namespace {

constexpr int kFetches = 1000;
constexpr int kRounds = 3;

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One round of ours; -1 when a fetch brought nothing.
double round_ours(const std::vector<std::string> &urls, bool header) {
  static char out[8192];
  auto t0 = std::chrono::steady_clock::now();
  for (const std::string &url : urls) {
    out[0] = '\0';
    if (header) {
      ZelUtil::GetHttpHeader(url.c_str(), out, sizeof out);
      if (!std::strstr(out, "Location = \"")) return -1;
    } else {
      ZelUtil::HttpGet(url.c_str(), out, sizeof out);
      if (!std::strstr(out, "<media:title")) return -1;
    }
  }
  return seconds_since(t0);
}

// One round with one curl process over the URL list; -1 on failure.
double round_curl(const std::string &config) {
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "--silent", "--show-error", "--max-time", "60", "-K", config.c_str(), (char *)nullptr);
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return seconds_since(t0);
}

bool measure(const char *what, const std::vector<std::string> &urls, bool header, const std::string &config) {
  round_ours(urls, header);  // warm up both sides
  round_curl(config);
  double best_ours = 1e9, best_curl = 1e9;
  for (int r = 0; r < kRounds; ++r) {
    double o = round_ours(urls, header);
    double c = round_curl(config);
    if (o < 0 || c < 0) {
      std::printf("%s: benchmark failed (ours %.3f s, curl %.3f s)\n", what, o, c);
      return false;
    }
    std::printf("%s round %d: ours %.3f s, curl %.3f s\n", what, r + 1, o, c);
    if (o < best_ours) best_ours = o;
    if (c < best_curl) best_curl = c;
  }
  std::printf("%s: %.3f s (%.0f fetches/s); curl (one process, URL list): %.3f s (%.0f fetches/s)\n", what, best_ours,
              kFetches / best_ours, best_curl, kFetches / best_curl);
  std::printf("ratio %s/curl: %.2f (target: <= 1.20)\n", what, best_ours / best_curl);
  return true;
}

}  // namespace

int main() {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  const char *site = std::getenv("LAB_FAKESITE_URL");
  if (!site || !site[0]) {
    std::printf("not in the lab (LAB_FAKESITE_URL unset): benchmark skipped\n");
    return 77;
  }
  if (std::system("curl --version >/dev/null 2>&1") != 0) {
    std::printf("curl not found: reference missing, benchmark skipped\n");
    return 77;
  }
  std::vector<std::string> bodies, redirects;
  for (int i = 0; i < kFetches; ++i) {
    std::string id = "bench" + std::to_string(i);
    bodies.push_back(std::string(site) + "feeds/api/videos/" + id + "?v=2");
    redirects.push_back(std::string(site) + "get_video?video_id=" + id + "&t=tok/" + id + "&fmt=18");
  }
  char dir[] = "/tmp/bench-media-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string body_config = std::string(dir) + "/bodies.txt";
  const std::string redirect_config = std::string(dir) + "/redirects.txt";
  for (auto [path, urls] : {std::make_pair(body_config, &bodies), std::make_pair(redirect_config, &redirects)}) {
    std::ofstream out(path);
    for (const std::string &url : *urls) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
  }
  bool ok = measure("HttpGet", bodies, false, body_config) && measure("GetHttpHeader", redirects, true, redirect_config);
  std::remove(body_config.c_str());
  std::remove(redirect_config.c_str());
  rmdir(dir);
  return ok ? 0 : 1;
}
