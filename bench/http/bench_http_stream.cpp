// Streams the lab's big file (LAB_BIG_MB, about 200 MB of WAV from the media
// server) through the stream receiver with 16 KiB and 64 KiB buffers, and
// fetches it with `curl -o /dev/null` in the same run, which is the bound the
// server and the link set. Our time runs from the start of the stream to its
// end event (HEAD and GET included); curl's is its own time_total (without
// its process start). Prints MB/s and the ratio ours / curl (target: at most
// 1.2). Best of five rounds each. The consumer does nothing with the bytes
// but count them. Then the progressive download of the same file into a
// data file (and its block map) beside `curl -o FILE` into the same folder:
// ours runs from the start call until the download is complete (files
// closed), curl's is its time_total; MB/s and the ratio (target: at most
// 1.5), best of five rounds, the copies deleted after each round and the big
// file at the end. Run in a lab with the big file:
//   LAB_BIG_MB=200 tests/lab/lab.sh run bench_http_stream
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <stdlib.h>
#include <unistd.h>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_progressive.h"
#include "stream_session.h"

namespace {

constexpr int kRounds = 5;

// curl's own time for the whole body, -1 when it failed or fetched another
// size.
double run_curl(const std::string &url, int64_t size, const std::string &out = "/dev/null") {
  std::string command = "curl -s --fail -o '" + out + "' -w '%{time_total} %{size_download}' '" + url + "'";
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

// Our progressive download of the whole file into path, -1 unless it ended
// complete with a copy of the full size.
double run_progressive(const std::string &url, int64_t size, const std::string &path) {
  const auto start = std::chrono::steady_clock::now();
  if (upnp_renderer_get_progressive_stream(nullptr, 0, url.c_str(), path.c_str(), nullptr, 0, nullptr, nullptr) !=
      STREAM_OK)
    return -1;
  uint32_t state = 0;
  int64_t position = 0;
  for (;;) {
    upnp_renderer_progressive_status(&position, nullptr, &state);
    if (state != DOWNLOAD_STATE_STARTING && state != DOWNLOAD_STATE_DOWNLOADING && state != DOWNLOAD_STATE_RESTARTING)
      break;
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(120)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  upnp_renderer_cancel_progressive();
  if (state != DOWNLOAD_STATE_COMPLETE || position != size) {
    std::fprintf(stderr, "bench_http_stream: the progressive download ended in state %u at %" PRId64 " of %" PRId64
                 "\n", state, position, size);
    return -1;
  }
  return seconds;
}

void remove_copies(const std::string &dir) {
  for (const char *name : {"/curl.wav", "/progressive.wav", "/progressive.wav_bm"}) unlink((dir + name).c_str());
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

  // The progressive download beside curl writing a file, in the same folder.
  char folder[] = "/tmp/bench-progressive-XXXXXX";
  if (!mkdtemp(folder)) {
    std::fprintf(stderr, "bench_http_stream: no folder for the copies\n");
    return 1;
  }
  const std::string dir = folder;
  double curl_file = 1e9, progressive = 1e9;
  for (int round = 0; round < kRounds && rc == 0; ++round) {
    double t = run_curl(url, size, dir + "/curl.wav");
    if (t < 0) rc = 1;
    else curl_file = std::min(curl_file, t);
    remove_copies(dir);
    t = run_progressive(url, size, dir + "/progressive.wav");
    if (t < 0) rc = 1;
    else progressive = std::min(progressive, t);
    remove_copies(dir);
  }
  rmdir(folder);
  const char *big = std::getenv("LAB_BIG_FILE");
  if (big) unlink(big);
  if (rc != 0) {
    std::fprintf(stderr, "bench_http_stream: a progressive run failed\n");
    return rc;
  }
  std::printf("curl -o FILE               %.3f s  %7.1f MB/s\n", curl_file, mb / curl_file);
  std::printf("progressive download       %.3f s  %7.1f MB/s  ratio ours/curl %.2f (target <= 1.5)\n", progressive,
              mb / progressive, progressive / curl_file);
  return 0;
}
