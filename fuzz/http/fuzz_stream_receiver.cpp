// Arbitrary server answers to the stream receiver. The input is split at
// "\n--next--\n" into the bytes of successive connections (HEAD, GET, the
// GET's retry, redirects); each connection is one end of a socket pair whose
// other end holds those bytes and then shuts its sending side. The first
// byte picks the stream's options (buffer size, download mode, a range
// asked for, a live stream read only as ShoutCast). The checks abort on any broken promise:
// every stream ends with exactly one final code, no piece exceeds the buffer,
// and a plain body with a known length is never reported complete when cut.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "http/http_parse.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

void check_at(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_stream_receiver: check at line %d failed\n", line);
  std::abort();
}
#define check(ok) check_at((ok), __LINE__)

constexpr size_t kMaxConnections = 8;

std::mutex g_mutex;
std::vector<std::string> g_segments;
size_t g_next = 0;
std::vector<int> g_peers;

int fuzz_connect(const char *) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (g_next >= g_segments.size()) return -1;
  const std::string &wire = g_segments[g_next++];
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return -1;
  int big = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  size_t done = 0;
  while (done < wire.size()) {
    ssize_t n = send(sv[1], wire.data() + done, wire.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0) break;  // more than the pair holds: the rest is dropped
    done += static_cast<size_t>(n);
  }
  shutdown(sv[1], SHUT_WR);  // the receiver still may send its request
  g_peers.push_back(sv[1]);
  return sv[0];
}

struct Outcome {
  std::mutex mutex;
  std::condition_variable changed;
  int finals = 0;
  uint32_t final_code = 0;
  uint32_t buffer_size = 0;
  int64_t last_position = 0;
};

int callback(uint32_t count, StreamInfo *info) {
  auto *o = static_cast<Outcome *>(info->context);
  EnterCriticalSection(&info->lock);
  uint32_t code = info->state;
  int64_t position = info->position;
  LeaveCriticalSection(&info->lock);
  std::lock_guard<std::mutex> hold(o->mutex);
  check(o->finals == 0);  // nothing after the final code
  if (code == STREAM_EVENT_DATA) check(count > 0 && count <= o->buffer_size);
  if (code >= STREAM_EVENT_STOPPED) {
    check(code == STREAM_EVENT_STOPPED || code == STREAM_EVENT_END || code == STREAM_EVENT_FAILURE);
    ++o->finals;
    o->final_code = code;
    o->last_position = position;
    o->changed.notify_all();
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    upnp_mem_init();
    stream_set_connector(fuzz_connect);
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;
  const uint8_t options = data[0];
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_segments.clear();
    g_next = 0;
    const std::string mark = "\n--next--\n";
    size_t at = 0;
    while (g_segments.size() < kMaxConnections) {
      size_t next = rest.find(mark, at);
      g_segments.push_back(rest.substr(at, next == std::string::npos ? std::string::npos : next - at));
      if (next == std::string::npos) break;
      at = next + mark.size();
    }
  }
  Outcome outcome;
  outcome.buffer_size = 1u + (options & 7u) * 700u;
  std::vector<char> buffer(outcome.buffer_size);
  uint64_t features = ((options & 8) ? STREAM_FEATURE_DOWNLOAD : 0) | ((options & 32) ? STREAM_FEATURE_LIVE : 0);
  const char *extra = (options & 16) ? "Range: bytes=100-\r\n" : nullptr;
  StreamInfo *info = upnp_client_createStreamInfo();
  check(info != nullptr);
  info->context = &outcome;
  info = upnp_client_initStreamInfo(info, buffer.data(), outcome.buffer_size, "http://fuzz.invalid/a/b.mp3", extra,
                                    nullptr, callback, features);
  check(info != nullptr);
  check(upnp_client_startHttpStream(info) != nullptr);
  {
    std::unique_lock<std::mutex> hold(outcome.mutex);
    check(outcome.changed.wait_for(hold, std::chrono::seconds(8), [&] { return outcome.finals > 0; }));
  }
  EnterCriticalSection(&info->lock);
  int64_t total = info->total_length;
  bool chunked = HTTP_parse_header_chunked(info->header) != 0;
  LeaveCriticalSection(&info->lock);
  // A plain body of known length ends complete only at its length.
  if (outcome.final_code == STREAM_EVENT_END && total > 0 && !chunked) check(outcome.last_position >= total);
  upnp_renderer_free_streaminfo(info);
  std::lock_guard<std::mutex> hold(g_mutex);
  for (int fd : g_peers) close(fd);
  g_peers.clear();
  return 0;
}
