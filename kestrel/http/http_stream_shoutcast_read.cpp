// Reading a ShoutCast stream: de-chunking when the answer is chunked, the
// metadata blocks every metaint audio bytes with their stream title and URL,
// and the audio pieces handed to the consumer.
#include <cerrno>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_io.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

enum read_status { READ_DATA, READ_END, READ_FAILED };

// The body's bytes, de-chunked when needed and bounded by an announced
// length.
class icy_body {
 public:
  icy_body(int sock, bool chunked, int64_t length) : sock_(sock), chunked_(chunked), length_(length) {}

  // Up to n bytes into `to`; *got the count when READ_DATA.
  read_status read(char *to, size_t n, size_t *got) {
    *got = 0;
    if (length_ > 0) {
      if (done_ >= length_) return READ_END;
      if (static_cast<uint64_t>(length_ - done_) < n) n = static_cast<size_t>(length_ - done_);
    }
    if (chunked_) {
      if (left_ == 0) {
        if (!first_ && http_read_chunk_end(sock_) != HTTP_READ_OK) return READ_FAILED;
        first_ = false;
        uint64_t size = 0;
        int r = http_read_chunk_size(sock_, UINT64_MAX >> 4, &size);
        if (r == HTTP_READ_CLOSED) return end_or_cut();
        if (r != HTTP_READ_OK) return READ_FAILED;
        if (size == 0) return end_or_cut();
        left_ = size;
      }
      if (n > left_) n = static_cast<size_t>(left_);
    }
    ssize_t r;
    do {
      r = upnp_recv(sock_, to, n, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return READ_FAILED;
    if (r == 0) return chunked_ ? READ_FAILED : end_or_cut();
    if (chunked_) left_ -= static_cast<uint64_t>(r);
    done_ += r;
    *got = static_cast<size_t>(r);
    return READ_DATA;
  }

  // Exactly n bytes (metadata).
  read_status read_exact(char *to, size_t n) {
    size_t have = 0;
    while (have < n) {
      size_t got = 0;
      read_status s = read(to + have, n - have, &got);
      if (s != READ_DATA) return s == READ_END ? READ_FAILED : s;  // a block cut short
      have += got;
    }
    return READ_DATA;
  }

 private:
  // The body ended: complete when no length was announced or all of it came.
  read_status end_or_cut() const { return length_ > 0 && done_ < length_ ? READ_FAILED : READ_END; }

  int sock_;
  bool chunked_;
  int64_t length_;
  int64_t done_ = 0;
  uint64_t left_ = 0;
  bool first_ = true;
};

// The value after key and its opening quote, up to "';" (or the block's end).
char *metadata_value(const char *block, const char *key) {
  const char *p = std::strstr(block, key);
  if (!p) return nullptr;
  p += std::strlen(key);
  if (*p == '\'') ++p;
  const char *end = std::strstr(p, "';");
  size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
  auto *out = static_cast<char *>(upnp_malloc_impl(n + 1));
  if (!out) return nullptr;
  std::memcpy(out, p, n);
  out[n] = '\0';
  return out;
}

// Takes title and URL from a metadata block (NUL-terminated inside the ICY
// metadata buffer) into the ICY state.
void take_metadata(StreamInfo *info, uint32_t generation, stream_icy *icy) {
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "upnp_renderer_receive_shoutcast_stream", "Metadata update:\n%s",
                icy->metadata);
  char *title = metadata_value(icy->metadata, "StreamTitle=");
  char *url = metadata_value(icy->metadata, "StreamUrl=");
  EnterCriticalSection(&info->lock);
  if (info->receiver == generation) {
    uint32_t changed = 0;
    if (title && (!icy->title || std::strcmp(title, icy->title) != 0)) {
      upnp_free_impl(icy->title);
      icy->title = title;
      title = nullptr;
      changed |= 1;
    }
    if (url && (!icy->stream_url || std::strcmp(url, icy->stream_url) != 0)) {
      upnp_free_impl(icy->stream_url);
      icy->stream_url = url;
      url = nullptr;
      changed |= 2;
    }
    icy->changed = changed;
  }
  LeaveCriticalSection(&info->lock);
  upnp_free_impl(title);
  upnp_free_impl(url);
}

}  // namespace

void upnp_renderer_receive_shoutcast_stream(StreamInfo *info, uint32_t generation, int sock) {
  EnterCriticalSection(&info->lock);
  stream_icy *icy = info->icy;
  LeaveCriticalSection(&info->lock);
  if (!icy) {
    stream_finish(info, generation, STREAM_EVENT_FAILURE);
    return;
  }
  icy_body body(sock, icy->chunked != 0, icy->content_length);
  const int64_t metaint = icy->metaint;
  int64_t since_block = 0;
  for (;;) {
    EnterCriticalSection(&info->lock);
    bool go_on = info->receiver == generation && info->state < STREAM_EVENT_SEEK;
    LeaveCriticalSection(&info->lock);
    if (!go_on) return;
    read_status s = READ_DATA;
    if (metaint > 0 && since_block == metaint) {
      unsigned char blocks = 0;
      s = body.read_exact(reinterpret_cast<char *>(&blocks), 1);
      if (s == READ_DATA && blocks > 0) {
        size_t n = 16u * blocks;  // at most 4080 bytes: the buffer holds 4097
        s = body.read_exact(icy->metadata, n);
        if (s == READ_DATA) {
          icy->metadata[n] = '\0';
          take_metadata(info, generation, icy);
        }
      }
      since_block = 0;
    }
    size_t got = 0;
    if (s == READ_DATA) {
      uint64_t want = info->buffer_size;
      if (metaint > 0 && static_cast<uint64_t>(metaint - since_block) < want)
        want = static_cast<uint64_t>(metaint - since_block);
      if (!stream_enter_buffer(info, generation)) return;
      s = body.read(info->buffer, static_cast<size_t>(want), &got);
      stream_leave_buffer(info);
    }
    if (s != READ_DATA) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "End of stream");
      stream_finish(info, generation, s == READ_END ? STREAM_EVENT_END : STREAM_EVENT_FAILURE);
      return;
    }
    since_block += static_cast<int64_t>(got);
    if (stream_notify(info, generation, STREAM_EVENT_DATA, static_cast<uint32_t>(got))) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Streaming aborted by renderer");
      stream_finish(info, generation, STREAM_EVENT_STOPPED);
      return;
    }
    stream_advance(info, generation, static_cast<int64_t>(got), static_cast<int64_t>(got));
  }
}
