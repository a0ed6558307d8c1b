// Streams the lab's big file (LAB_BIG_MB, about 200 MB of WAV from the media
// server) through the stream receiver with 16 KiB and 64 KiB buffers, and
// fetches it with `curl -o /dev/null` in the same run, which is the bound the
// server and the link set. Our time runs from the start of the stream to its
// end event (HEAD and GET included); curl's is its own time_total (without
// its process start). Prints MB/s and the ratio ours / curl (target: at most
// 1.2). Best of five rounds each. The consumer does nothing with the bytes
// but count them. Run in a lab with the big file:
//   LAB_BIG_MB=200 tests/lab/lab.sh run bench_http_stream
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "stream_session.h"

namespace {

constexpr int kRounds = 5;

// curl's own time for the whole body, -1 when it failed or fetched another
// size.
double run_curl(const std::string &url, int64_t size) {
  std::string command = "curl -s --fail -o /dev/null -w '%{time_total} %{size_download}' '" + url + "'";
  FILE *p = popen(command.c_str(), "r");
  if (!p) return -1;
  double seconds = -1;
  long long got = -1;
  if (std::fscanf(p, "%lf %lld", &seconds, &got) != 2) seconds = -1;
  if (pclose(p) != 0 || got != size) return -1;
  return seconds;
}

// Our time for the whole body with this buffer, -1 unless it ended with every byte.
double run_stream(const std::string &url, uint32_t buffer, int64_t size) {
  StreamSessionOptions options;
  options.buffer_size = buffer;
  options.md5 = false;
  StreamSession s(options);
  if (s.start(url) != STREAM_OK || !s.wait_end(120000)) return -1;
  if (s.final_code() != STREAM_EVENT_END || static_cast<int64_t>(s.bytes()) != size) {
    std::fprintf(stderr, "bench_http_stream: ended with %u after %" PRIu64 " of %" PRId64 " bytes\n", s.final_code(),
                 s.bytes(), size);
    return -1;
  }
  return s.seconds();
}

}  // namespace

int main() {
  const char *url_env = std::getenv("LAB_BIG_URL");
  const char *size_env = std::getenv("LAB_BIG_SIZE");
  if (!url_env || !size_env) {
    std::fprintf(stderr, "bench_http_stream: run it in a lab with LAB_BIG_MB set (tests/lab/lab.sh run ...)\n");
    return 77;
  }
  const std::string url = url_env;
  const int64_t size = std::atoll(size_env);
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  upnp_ini_file_init();
  int rc = 0;
  double curl = 1e9, ours[2] = {1e9, 1e9};
  const uint32_t buffers[2] = {16 * 1024, 64 * 1024};
  // Rounds interleave the three, so that a slow moment of the machine is shared.
  for (int round = 0; round < kRounds; ++round) {
    double t = run_curl(url, size);
    if (t < 0) rc = 1;
    else curl = std::min(curl, t);
    for (int b = 0; b < 2; ++b) {
      t = run_stream(url, buffers[b], size);
      if (t < 0) rc = 1;
      else ours[b] = std::min(ours[b], t);
    }
  }
  if (rc != 0) {
    std::fprintf(stderr, "bench_http_stream: a run failed\n");
    return rc;
  }
  const double mb = size / 1e6;
  std::printf("file %.1f MB from %s, best of %d\n", mb, url.c_str(), kRounds);
  std::printf("curl -o /dev/null          %.3f s  %7.1f MB/s\n", curl, mb / curl);
  for (int b = 0; b < 2; ++b)
    std::printf("stream, %2u KiB buffer      %.3f s  %7.1f MB/s  ratio ours/curl %.2f (target <= 1.2)\n",
                buffers[b] / 1024, ours[b], mb / ours[b], ours[b] / curl);
  std::printf("progressive download: not measured here (not built yet)\n");
  return 0;
}
