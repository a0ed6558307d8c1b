#include "progressive_run.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "playlist/upnp_progressive.h"
#include "stream_md5.h"

namespace {

constexpr int kTickMs = 50;
constexpr int kPrintEveryMs = 250;
constexpr size_t kBarWidth = 64;

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

const char *state_name(uint32_t state) {
  static const char *const names[] = {"NONE", "IDLE", "STARTING", "DOWNLOADING", "COMPLETE", "FAILED", "RESTARTING"};
  return state < sizeof names / sizeof names[0] ? names[state] : "?";
}

// The reader: the cache's file stream calls back on its own thread, possibly
// before the start returned the record, so its state is not reached through
// the record.
struct Reader {
  std::mutex mutex;
  StreamMd5 md5;
  uint64_t bytes = 0;
  int64_t next = 0;        // where the next piece should start
  uint64_t out_of_order = 0;
  uint32_t final_code = 0;
  uint32_t pace_kib_s = 0;
};
Reader g_reader;

int reader_callback(uint32_t count, StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  const uint32_t code = info->state;
  const int64_t position = info->position;
  LeaveCriticalSection(&info->lock);
  uint32_t pace = 0;
  {
    std::lock_guard<std::mutex> hold(g_reader.mutex);
    if (code == STREAM_EVENT_DATA) {
      if (position != g_reader.next) g_reader.out_of_order++;
      g_reader.md5.update(info->buffer, count);
      g_reader.bytes += count;
      g_reader.next = position + count;
      pace = g_reader.pace_kib_s;
    } else if (code >= STREAM_EVENT_STOPPED) {
      g_reader.final_code = code;
    }
  }
  if (pace > 0)
    std::this_thread::sleep_for(std::chrono::microseconds(uint64_t(count) * 1000000 / (uint64_t(pace) * 1024)));
  return 0;
}

struct Watch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  uint32_t state = UINT32_MAX;
  int64_t position = -1;
  std::string map;
  double printed_ms = -1e9;

  double ms() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
};

void print_line(Watch &w, const std::string &path, bool force, bool quiet) {
  int64_t position = 0, total = 0;
  uint32_t state = 0;
  upnp_renderer_progressive_status(&position, &total, &state);
  const std::string map = read_all(path + "_bm");
  const double now = w.ms();
  const bool changed = state != w.state || position != w.position || map != w.map;
  // A change of state shows at once, other changes at most every 250 ms;
  // forced (the last line) shows any change at once.
  if (!changed || (!force && state == w.state && now - w.printed_ms < kPrintEveryMs)) return;
  w.state = state;
  w.position = position;
  w.map = map;
  w.printed_ms = now;
  if (quiet) return;
  size_t written = 0;
  for (char c : map) written += c == 1;
  std::printf("%9.1f ms  %-11s readable %" PRId64 " of %" PRId64 " (%.1f%%)  map %zu/%zu [%s]\n", now,
              state_name(state), position, total, total > 0 ? 100.0 * position / total : 0.0, written, map.size(),
              progressive_map_bar(map, kBarWidth).c_str());
  std::fflush(stdout);
}

// SIGINT and SIGTERM are taken by the watching loop (sigtimedwait) and
// blocked everywhere else: the library's threads start with this mask.
sigset_t block_interrupts() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

bool interrupted_within(const sigset_t &set, int ms) {
  timespec wait{ms / 1000, (ms % 1000) * 1000000L};
  return sigtimedwait(&set, nullptr, &wait) > 0;
}

std::string file_md5(const std::string &path) { return stream_md5_of(read_all(path)); }

}  // namespace

ProgressiveDisk progressive_disk(const std::string &path) {
  ProgressiveDisk d;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return d;
  d.length = static_cast<int64_t>(st.st_size);
  d.blocks = (d.length + DOWNLOAD_BLOCK_SIZE - 1) / DOWNLOAD_BLOCK_SIZE;
  d.map = read_all(path + "_bm");
  if (static_cast<int64_t>(d.map.size()) != d.blocks) return d;
  d.fit = true;
  for (size_t b = 0; b < d.map.size(); b++) {
    if (d.map[b] == 1) {
      d.written++;
    } else if (d.first_missing < 0) {
      d.first_missing = static_cast<int64_t>(b) * DOWNLOAD_BLOCK_SIZE;
    }
  }
  return d;
}

std::string progressive_map_bar(const std::string &map, size_t width) {
  if (map.empty() || width == 0) return "";
  const size_t n = map.size() < width ? map.size() : width;
  std::string bar(n, '.');
  for (size_t i = 0; i < n; i++) {
    const size_t from = i * map.size() / n, to = (i + 1) * map.size() / n;
    size_t written = 0;
    for (size_t b = from; b < to; b++) written += map[b] == 1;
    bar[i] = written == to - from ? '#' : written > 0 ? '+' : '.';
  }
  return bar;
}

int run_progressive(const ProgressiveOptions &o) {
  const ProgressiveDisk disk = progressive_disk(o.path);
  if (disk.fit && disk.first_missing < 0) {
    std::printf("%s is complete on disk (%" PRId64 " bytes, %" PRId64 " blocks): nothing to fetch\n", o.path.c_str(),
                disk.length, disk.blocks);
  } else if (disk.fit) {
    std::printf("resuming %s: %" PRId64 " of %" PRId64 " blocks on disk, from the first missing block %" PRId64
                " (byte %" PRId64 ")\n",
                o.path.c_str(), disk.written, disk.blocks, disk.first_missing / DOWNLOAD_BLOCK_SIZE,
                disk.first_missing);
  } else {
    std::printf("downloading %s into %s (block map %s_bm)%s\n", o.url.c_str(), o.path.c_str(), o.path.c_str(),
                disk.length > 0 ? "; the files on disk do not fit together, fetched anew" : "");
  }
  std::fflush(stdout);
  const sigset_t interrupts = block_interrupts();
  g_reader.pace_kib_s = o.pace_kib_s;
  std::vector<char> buffer(o.reader ? o.buffer : 0);
  StreamInfo *reader = nullptr;
  int rc = o.reader ? upnp_renderer_get_progressive_stream(buffer.data(), o.buffer, o.url.c_str(), o.path.c_str(),
                                                            nullptr, 0, reader_callback, &reader)
                    : upnp_renderer_get_progressive_stream(nullptr, 0, o.url.c_str(), o.path.c_str(), nullptr, 0,
                                                            nullptr, nullptr);
  if (rc != STREAM_OK) {
    std::fprintf(stderr, "kestrel-stream: the progressive download did not start (%d)\n", rc);
    upnp_renderer_cancel_progressive();
    return 1;
  }
  Watch w;
  bool interrupted = false;
  size_t next_seek = 0;
  uint32_t state = 0;
  for (;;) {
    print_line(w, o.path, false, o.quiet);
    upnp_renderer_progressive_status(nullptr, nullptr, &state);
    uint32_t reader_final = 0;
    {
      std::lock_guard<std::mutex> hold(g_reader.mutex);
      reader_final = g_reader.final_code;
    }
    // Without a reader nothing retries a failed download: it ends the run.
    if ((state == DOWNLOAD_STATE_COMPLETE && (!reader || reader_final)) || (state == DOWNLOAD_STATE_FAILED && !reader) ||
        (reader && reader_final && reader_final != STREAM_EVENT_END) || state == DOWNLOAD_STATE_IDLE)
      break;
    if (w.ms() > o.seconds * 1000.0) {
      std::printf("%9.1f ms  giving up after %d s\n", w.ms(), o.seconds);
      break;
    }
    if ((o.stop_ms >= 0 && w.ms() >= o.stop_ms) || interrupted_within(interrupts, kTickMs)) {
      interrupted = true;
      break;
    }
    while (next_seek < o.seeks.size() && w.ms() >= o.seeks[next_seek].first) {
      const int64_t at = o.seeks[next_seek++].second;
      std::printf("%9.1f ms  -> restart at byte %" PRId64 ": %d\n", w.ms(), at, DownloadRestartInternal(at));
    }
  }
  print_line(w, o.path, true, o.quiet);
  // The cancel closes the files, which writes the map bytes still pending.
  if (reader) upnp_renderer_free_streaminfo(reader);
  upnp_renderer_cancel_progressive();
  const ProgressiveDisk after = progressive_disk(o.path);
  if (interrupted)
    std::printf("%9.1f ms  interrupted: %" PRId64 " of %" PRId64 " blocks on disk [%s]; run again with the same path "
                "to resume\n",
                w.ms(), after.written, after.blocks, progressive_map_bar(after.map, kBarWidth).c_str());
  const bool complete = state == DOWNLOAD_STATE_COMPLETE && after.fit && after.first_missing < 0;
  if (complete)
    std::printf("complete: %" PRId64 " bytes, %" PRId64 " blocks, copy md5 %s\n", after.length, after.blocks,
                file_md5(o.path).c_str());
  else if (!interrupted)
    std::printf("not complete: state %s, %" PRId64 " of %" PRId64 " blocks on disk\n", state_name(state),
                after.written, after.blocks);
  bool reader_ok = true;
  if (reader) {
    std::lock_guard<std::mutex> hold(g_reader.mutex);
    std::printf("reader: %" PRIu64 " bytes, md5 %s, final %u%s\n", g_reader.bytes, g_reader.md5.hex().c_str(),
                g_reader.final_code, g_reader.out_of_order ? ", pieces out of order" : "");
    reader_ok = g_reader.final_code == STREAM_EVENT_END && g_reader.out_of_order == 0;
  }
  std::printf("%.3f s\n", w.ms() / 1000.0);
  return complete && reader_ok ? 0 : 1;
}
