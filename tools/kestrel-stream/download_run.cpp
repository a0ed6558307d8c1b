#include "download_run.h"

#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "base/upnp_ini_file.h"
#include "nmc/lm_nmc_internal.h"
#include "playlist/lm_nmc_download.h"
#include "stream_md5.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPrintEveryMs = 250;

// What the callback saw; it runs on the receiver's thread.
struct Sink {
  std::mutex mutex;
  std::condition_variable changed;
  Clock::time_point start = Clock::now();
  StreamMd5 md5;
  FILE *out = nullptr;
  bool write_failed = false;
  uint64_t bytes = 0;
  uint32_t pieces = 0;
  bool stop = false;       // the next piece stops the download
  bool stopped = false;    // the callback stopped it (no final call follows)
  bool ended = false;      // the final call came
  uint32_t result = 0;
  double end_ms = -1;      // when the download ended (final call or stop)
  double printed_ms = -1e9;
  bool quiet = false;
  uint32_t pace_kib_s = 0;

  double ms() const { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }
};

const char *result_name(uint32_t result) {
  switch (result) {
    case LM_NMC_DOWNLOAD_DONE: return "done";
    case LM_NMC_DOWNLOAD_STOPPED: return "stopped";
    case LM_NMC_DOWNLOAD_FAILED: return "failed";
    default: return "?";
  }
}

int on_piece(uint32_t, void **user_data, const char *url, const char *buffer, uint32_t count) {
  auto *s = static_cast<Sink *>(*user_data);
  if (buffer != nullptr && s->pace_kib_s > 0) {
    const uint64_t us = uint64_t(count) * 1000000 / (uint64_t(s->pace_kib_s) * 1024);
    std::this_thread::sleep_for(std::chrono::microseconds(us));
  }
  std::lock_guard<std::mutex> hold(s->mutex);
  const double now = s->ms();
  if (buffer == nullptr) {
    s->ended = true;
    s->result = count;
    s->end_ms = now;
    if (!s->quiet) std::printf("%9.1f ms  final call: %u (%s) for %s\n", now, count, result_name(count), url);
  } else {
    if (s->stop) {
      s->stopped = true;
      s->end_ms = now;
      if (!s->quiet) std::printf("%9.1f ms  the callback answers 0: download stopped\n", now);
    } else {
      s->md5.update(buffer, count);
      if (s->out != nullptr && std::fwrite(buffer, 1, count, s->out) != count) s->write_failed = true;
      s->bytes += count;
      s->pieces++;
      if (!s->quiet && now - s->printed_ms >= kPrintEveryMs) {
        std::printf("%9.1f ms  %" PRIu64 " bytes in %u pieces\n", now, s->bytes, s->pieces);
        s->printed_ms = now;
      }
    }
  }
  std::fflush(stdout);
  s->changed.notify_all();
  return s->stopped ? 0 : 1;
}

}  // namespace

int run_download(const DownloadOptions &o) {
  // Static: a download that did not end in time may still call back while
  // the process exits.
  static Sink sink;
  sink.quiet = o.quiet;
  sink.pace_kib_s = o.pace_kib_s;
  if (!o.path.empty() && (sink.out = std::fopen(o.path.c_str(), "wbe")) == nullptr) {
    std::fprintf(stderr, "kestrel-stream: cannot write %s\n", o.path.c_str());
    return 1;
  }
  // The download needs nothing of the controller's network stack (no SSDP,
  // no HTTP server): the tool talks to no one but the URL's server.
  nmc_set_network(0);
  // The controller sets up (and at its stop releases) the configuration
  // store itself.
  upnp_ini_file_release();
  if (!o.quiet) std::printf("downloading %s (buffer %u bytes)\n", o.url.c_str(), o.buffer);
  std::fflush(stdout);
  const lm_nmc_result_t rc = lm_nmc_download_uri(0, &sink, o.url.c_str(),
                                                 o.protocol_info.empty() ? nullptr : o.protocol_info.c_str(), o.buffer,
                                                 on_piece);
  bool ended = false, stopped = false;
  if (rc == LM_NMC_OK) {
    std::unique_lock<std::mutex> hold(sink.mutex);
    const long limit_ms = o.seconds * 1000L;
    const long first_ms = o.stop_ms >= 0 && o.stop_ms < limit_ms ? o.stop_ms : limit_ms;
    sink.changed.wait_until(hold, sink.start + std::chrono::milliseconds(first_ms),
                            [&] { return sink.ended || sink.stopped; });
    if (!sink.ended && !sink.stopped) {
      // Only the callback can stop a download: its next piece does.
      sink.stop = true;
      sink.changed.wait_for(hold, std::chrono::seconds(10), [&] { return sink.ended || sink.stopped; });
    }
    // A stopped download makes no further call; give a late one a chance to show.
    if (sink.stopped) sink.changed.wait_for(hold, std::chrono::milliseconds(300), [&] { return sink.ended; });
    ended = sink.ended;
    stopped = sink.stopped;
  } else {
    std::fprintf(stderr, "kestrel-stream: the download did not start (%u)\n", rc);
  }
  lm_nmc_stop();
  nmc_wait_stopped(20000);
  std::lock_guard<std::mutex> hold(sink.mutex);
  if (sink.out != nullptr && std::fclose(sink.out) != 0) sink.write_failed = true;
  const double secs = (sink.end_ms >= 0 ? sink.end_ms : sink.ms()) / 1000.0;
  std::printf("delivered %" PRIu64 " bytes in %u pieces, md5 %s, final %s, %.3f s, %.1f MB/s\n", sink.bytes,
              sink.pieces, sink.md5.hex().c_str(),
              ended ? result_name(sink.result) : stopped ? "none (stopped by the callback)" : "none",
              secs, secs > 0 ? sink.bytes / secs / 1e6 : 0.0);
  if (sink.write_failed) std::fprintf(stderr, "kestrel-stream: writing %s failed\n", o.path.c_str());
  return rc == LM_NMC_OK && ended && sink.result == LM_NMC_DOWNLOAD_DONE && !sink.write_failed ? 0 : 1;
}
