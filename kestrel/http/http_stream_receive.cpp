// The HTTP receiver thread ("RENDERER_HTTP_STREAM_RECEIVE"): HEAD, GET, the
// plain and chunked bodies, and pausing (by closing or by stalling).
#include <sys/socket.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "http/http_io.h"
#include "http/http_parse.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

// Stalling reads one byte every this many steps (about 29 s).
constexpr unsigned int kStallKeepAliveSteps = 290;

// The receiver reads the body into a buffer of its own, this much (or the
// consumer's buffer size when that is larger) per receive, and hands the
// consumer its pieces out of it: a small consumer buffer then no longer
// means one receive per piece.
constexpr size_t kReadAhead = 256 * 1024;

enum piece_result { PIECE_GO_ON, PIECE_END, PIECE_PAUSED };

struct receiver {
  StreamInfo *info;
  uint32_t generation;
  int sock = -1;
  int64_t skip = 0;  // bytes before the requested range, when the server ignored it
  // Body bytes read but not yet handed over: ahead[head, tail) of `size`.
  // The first `held` of them were taken while stalling (counted as received
  // already). A receive fills the buffer only when it is empty, never while
  // paused, and never past the body or the chunk.
  char *ahead = nullptr;
  size_t size = 0;
  size_t head = 0, tail = 0;
  uint32_t held = 0;
  char header[STREAM_HEADER_SIZE];  // the last response header

  size_t buffered() const { return tail - head; }
};

// One receive on the connection into the internal buffer at its tail; the
// result of recv.
ssize_t receive_ahead(receiver *r, size_t want) {
  ssize_t n;
  do {
    n = upnp_recv(r->sock, r->ahead + r->tail, want, 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) r->tail += static_cast<size_t>(n);
  return n;
}

// Makes sure body bytes are buffered, reading at most *wire_left (the bytes
// of the body, or of the chunk, still on the connection; lowered by what is
// read). 1 when bytes are buffered, 0 when the connection closed, -1 on a
// read failure.
int fill_ahead(receiver *r, uint64_t *wire_left) {
  if (r->buffered() > 0) return 1;
  r->head = r->tail = 0;
  uint64_t want = r->size < *wire_left ? r->size : *wire_left;
  if (want == 0) return 0;
  ssize_t n = receive_ahead(r, static_cast<size_t>(want));
  if (n < 0) return -1;
  *wire_left -= static_cast<uint64_t>(n);
  return n > 0 ? 1 : 0;
}

// Pause check before every piece. The bytes that may be held back while
// stalling are bounded by the consumer's buffer and by what is left of the
// body (or chunk).
piece_result check_for_pause(receiver *r, uint64_t *wire_left) {
  StreamInfo *info = r->info;
  EnterCriticalSection(&info->lock);
  bool wanted = info->pause_request || info->state == STREAM_EVENT_PAUSED;
  uint64_t features = info->features;
  LeaveCriticalSection(&info->lock);
  if (!wanted) return PIECE_GO_ON;
  if (stream_notify(info, r->generation, STREAM_EVENT_PAUSED, 0)) {
    stream_finish(info, r->generation, STREAM_EVENT_STOPPED);
    return PIECE_END;
  }
  if (features & STREAM_FEATURE_BYTE_SEEK) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "checkForPause Pause by stop/seek");
    return PIECE_PAUSED;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "pauseByStalling...");
  const unsigned int step_ms = stream_stall_step_ms();
  for (unsigned int steps = 1;; ++steps) {
    EnterCriticalSection(&info->lock);
    bool still = info->receiver == r->generation && info->state == STREAM_EVENT_PAUSED;
    LeaveCriticalSection(&info->lock);
    if (!still) return PIECE_GO_ON;
    Sleep(step_ms);
    if (steps % kStallKeepAliveSteps != 0) continue;
    // The byte held back is the next one of the body: one already read
    // ahead when there is one, else one off the connection. (A body of
    // unknown length has UINT64_MAX left.)
    uint64_t limit = info->buffer_size;
    if (*wire_left < limit && *wire_left + r->buffered() < limit) limit = *wire_left + r->buffered();
    if (r->held >= limit) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "pauseByStalling Cannot stall any longer");
      stream_finish(info, r->generation, STREAM_EVENT_STOPPED);
      return PIECE_END;
    }
    if (r->held >= r->buffered()) {
      if (r->tail == r->size) {
        // Fewer than a piece of bytes are left (the size is at least a
        // piece): move them to the start.
        std::memmove(r->ahead, r->ahead + r->head, r->buffered());
        r->tail -= r->head;
        r->head = 0;
      }
      ssize_t n = receive_ahead(r, 1);
      if (!stream_is_current(info, r->generation)) return PIECE_END;
      if (n <= 0) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "pauseByStalling Failed to read data");
        stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
        return PIECE_END;
      }
      --*wire_left;
    }
    ++r->held;
    stream_advance(info, r->generation, 1, 0);
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_HTTP, __func__, "pauseByStalling reading one byte (total %d)",
                  static_cast<int>(r->held));
  }
}

// Hands the consumer the next `count` buffered bytes as one piece.
piece_result deliver(receiver *r, uint32_t count) {
  StreamInfo *info = r->info;
  if (!stream_enter_buffer(info, r->generation)) return PIECE_END;
  std::memcpy(info->buffer, r->ahead + r->head, count);
  stream_leave_buffer(info);
  r->head += count;
  const uint32_t was_held = r->held < count ? r->held : count;
  r->held -= was_held;
  if (stream_notify(info, r->generation, STREAM_EVENT_DATA, count)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_http_stream Streaming aborted by renderer");
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_http_stream Stopping stream due to failed notification");
    stream_finish(info, r->generation, STREAM_EVENT_STOPPED);
    return PIECE_END;
  }
  stream_advance(info, r->generation, count - was_held, count);
  return PIECE_GO_ON;
}

// Delivers one piece of body (or drops bytes before the requested position),
// reading from the connection when nothing is buffered. *status: 1 when
// bytes were taken, 0 when the connection closed with nothing buffered, -1
// on a read failure.
piece_result next_piece(receiver *r, uint64_t *wire_left, int *status) {
  StreamInfo *info = r->info;
  *status = 1;
  if (r->skip > 0) {
    // Bytes before the requested position are read and dropped.
    *status = fill_ahead(r, wire_left);
    if (*status <= 0) return stream_is_current(info, r->generation) ? PIECE_GO_ON : PIECE_END;
    size_t drop = r->buffered();
    if (drop > static_cast<uint64_t>(r->skip)) drop = static_cast<size_t>(r->skip);
    r->head += drop;
    r->skip -= static_cast<int64_t>(drop);
    stream_advance(info, r->generation, static_cast<int64_t>(drop), static_cast<int64_t>(drop));
    return PIECE_GO_ON;
  }
  piece_result pause = check_for_pause(r, wire_left);
  if (pause != PIECE_GO_ON) return pause;
  if (!stream_is_current(info, r->generation)) return PIECE_END;
  *status = fill_ahead(r, wire_left);
  if (*status <= 0) return stream_is_current(info, r->generation) ? PIECE_GO_ON : PIECE_END;
  size_t count = r->buffered();
  if (count > info->buffer_size) count = info->buffer_size;
  return deliver(r, static_cast<uint32_t>(count));
}

piece_result receive_plain(receiver *r) {
  StreamInfo *info = r->info;
  for (;;) {
    if (!stream_is_current(info, r->generation)) return PIECE_END;
    EnterCriticalSection(&info->lock);
    int64_t total = info->total_length, position = info->position;
    LeaveCriticalSection(&info->lock);
    if (total > 0 && position >= total && r->buffered() == 0) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_http_stream End of stream (%" PRId64 "/%" PRId64 ")",
                    position, total);
      stream_finish(info, r->generation, STREAM_EVENT_END);
      return PIECE_END;
    }
    // What is buffered was read within the length already.
    uint64_t wire_left = UINT64_MAX;
    if (total > 0) {
      uint64_t room = static_cast<uint64_t>(total - position);
      wire_left = room > r->buffered() ? room - r->buffered() : 0;
    }
    int status = 0;
    piece_result result = next_piece(r, &wire_left, &status);
    if (result != PIECE_GO_ON) return result;
    if (status > 0) continue;
    if (status == 0 && total <= 0 && r->skip <= 0) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_http_stream End of stream (socket closed by server)");
      stream_finish(info, r->generation, STREAM_EVENT_END);
    } else {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "receive_http_stream Reading failure");
      stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
    }
    return PIECE_END;
  }
}

piece_result receive_chunked(receiver *r) {
  StreamInfo *info = r->info;
  for (;;) {
    if (!stream_is_current(info, r->generation)) return PIECE_END;
    uint64_t size = 0;
    if (http_read_chunk_size(r->sock, UINT64_MAX >> 4, &size) != HTTP_READ_OK) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "receive_http_chunked Reading failure");
      stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
      return PIECE_END;
    }
    if (size == 0) {
      if (r->skip > 0) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "receive_http_chunked Body ended before the requested position");
        stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
      } else {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_http_chunked End of chunked encoding");
        stream_finish(info, r->generation, STREAM_EVENT_END);
      }
      return PIECE_END;
    }
    // The buffer never reads past the chunk, so that its end and the next
    // size line are still read off the connection; what is buffered is all
    // of this chunk and goes out before them.
    uint64_t left = size;
    while (left > 0 || r->buffered() > 0) {
      if (!stream_is_current(info, r->generation)) return PIECE_END;
      int status = 0;
      piece_result result = next_piece(r, &left, &status);
      if (result != PIECE_GO_ON) return result;
      if (status <= 0) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "receive_http_chunked Reading failure");
        stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
        return PIECE_END;
      }
    }
    if (http_read_chunk_end(r->sock) != HTTP_READ_OK) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "receive_http_chunked Reading failure");
      stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
      return PIECE_END;
    }
  }
}

// The byte a range field asks for, or -1.
int64_t requested_byte(const char *fields) {
  const char *p = fields ? std::strstr(fields, "Range: bytes=") : nullptr;
  if (!p) return -1;
  char *end = nullptr;
  long long v = std::strtoll(p + 13, &end, 10);
  return end == p + 13 || v < 0 ? -1 : static_cast<int64_t>(v);
}

// GET with one retry on a new connection; the header length or 0.
int send_get(receiver *r, const char *fields) {
  int status = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!stream_is_current(r->info, r->generation)) return 0;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Issueing GET request");
    int length = get_http_header(r->info, r->generation, &r->sock, 0, fields, r->header, &status);
    if (length > 0) return length;
    stream_close_socket(r->info, &r->sock);
  }
  return 0;
}

// HEAD, again with the streaming transfer mode when a download was refused
// with 406; the header length, 0 on failure, -1 when the request fields
// cannot be built.
int send_head(receiver *r) {
  StreamInfo *info = r->info;
  for (int attempt = 0; attempt < 2; ++attempt) {
    char *fields = createHeaderExtraFields(info, 1);
    if (!fields) return -1;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Issueing HEAD request");
    int status = 0;
    int length = get_http_header(info, r->generation, &r->sock, 1, fields, r->header, &status);
    upnp_free_impl(fields);
    if (length > 0) return length;
    stream_close_socket(info, &r->sock);
    EnterCriticalSection(&info->lock);
    bool retry = status == 406 && (info->features & STREAM_FEATURE_DOWNLOAD) &&
                 !(info->features & STREAM_FEATURE_STREAMING_MODE);
    if (retry) info->features |= STREAM_FEATURE_STREAMING_MODE;
    LeaveCriticalSection(&info->lock);
    if (!retry) return 0;
  }
  return 0;
}

// The receiver's own buffer for the body: 0 when it cannot be had.
bool allocate_ahead(receiver *r) {
  const size_t piece = r->info->buffer_size;
  r->size = piece > kReadAhead ? piece : kReadAhead;
  r->ahead = static_cast<char *>(upnp_malloc_impl(r->size));
  if (!r->ahead) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "receive_http_stream No memory for %zu bytes of body",
                  r->size);
    return false;
  }
  return true;
}

// Requests the resource and delivers its body; the final code is left in the
// record (through stream_finish) unless the stream paused.
piece_result run(receiver *r, uint32_t first_state) {
  StreamInfo *info = r->info;
  bool head_ok = false;
  if (first_state == STREAM_EVENT_STARTED) {
    EnterCriticalSection(&info->lock);
    bool live = (info->features & STREAM_FEATURE_LIVE) != 0;
    LeaveCriticalSection(&info->lock);
    bool shoutcast = false;
    if (!live) {
      int head = send_head(r);
      if (head < 0) {
        // A request that cannot be built cannot be sent any other way.
        stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
        return PIECE_END;
      }
      head_ok = head > 0;
      if (head_ok && !stream_learn(info, r->generation, r->header, 1)) return PIECE_END;
      if (head_ok && !stream_dtcp_open(info, r->generation)) {
        stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
        return PIECE_END;
      }
      EnterCriticalSection(&info->lock);
      live = (info->features & STREAM_FEATURE_LIVE) != 0;
      LeaveCriticalSection(&info->lock);
      // A server that refuses HEAD may be a ShoutCast server; if not, the
      // GET below follows.
      if (!head_ok && stream_is_current(info, r->generation))
        shoutcast = upnp_renderer_get_shoutcast_stream(info, r->generation, &r->sock, r->header) != 0;
    } else {
      shoutcast = upnp_renderer_get_shoutcast_stream(info, r->generation, &r->sock, r->header) != 0;
    }
    if (live && head_ok && !shoutcast) {
      stream_close_socket(info, &r->sock);
      shoutcast = upnp_renderer_get_shoutcast_stream(info, r->generation, &r->sock, r->header) != 0;
    }
    if (live && !shoutcast) {
      stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
      return PIECE_END;
    }
    if (shoutcast) {
      if (stream_notify(info, r->generation, STREAM_EVENT_HEADER, static_cast<uint32_t>(std::strlen(r->header)))) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Data transfer aborted by player");
        stream_finish(info, r->generation, STREAM_EVENT_STOPPED);
        return PIECE_END;
      }
      EnterCriticalSection(&info->lock);
      if (info->receiver == r->generation && info->state < STREAM_EVENT_STOPPED) info->state = STREAM_EVENT_DATA;
      LeaveCriticalSection(&info->lock);
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Transmitting data ...");
      upnp_renderer_receive_shoutcast_stream(info, r->generation, r->sock);
      return PIECE_END;
    }
  }
  if (!stream_is_current(info, r->generation)) return PIECE_END;
  char *fields = createHeaderExtraFields(info, 0);
  if (!fields) {
    stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
    return PIECE_END;
  }
  int64_t asked = requested_byte(fields);
  int length = send_get(r, fields);
  upnp_free_impl(fields);
  if (length <= 0) {
    stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
    return PIECE_END;
  }
  EnterCriticalSection(&info->lock);
  if (info->receiver == r->generation) info->received = 0;
  LeaveCriticalSection(&info->lock);
  if (!stream_learn(info, r->generation, r->header, head_ok ? 0 : 1)) return PIECE_END;
  if (!head_ok && !stream_dtcp_open(info, r->generation)) {
    stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
    return PIECE_END;
  }
  EnterCriticalSection(&info->lock);
  if (info->receiver != r->generation) {
    // replaced: leaves the record alone
  } else if (asked > 0 && info->byte_offset < 0 && HTTP_parse_header_response(r->header) == 200) {
    // The server ignored the range and sends from the start: what comes
    // before the requested byte is dropped, so that the first piece the
    // consumer gets does start there.
    info->position = 0;
    info->byte_offset = 0;
    r->skip = asked;
  } else if (info->byte_offset < 0 && info->time_position < 0 && HTTP_parse_header_response(r->header) == 200) {
    info->position = 0;  // the whole resource from its start
  }
  LeaveCriticalSection(&info->lock);
  if (r->skip > 0)
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Range ignored by server; skipping %" PRId64 " bytes",
                  r->skip);

  if (first_state != STREAM_EVENT_DATA) {
    uint32_t code = first_state == STREAM_EVENT_SEEK ? STREAM_EVENT_SEEK : STREAM_EVENT_HEADER;
    if (stream_notify(info, r->generation, code, static_cast<uint32_t>(length))) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Data transfer aborted by player");
      stream_finish(info, r->generation, STREAM_EVENT_STOPPED);
      return PIECE_END;
    }
  }
  EnterCriticalSection(&info->lock);
  if (info->receiver == r->generation && info->state < STREAM_EVENT_STOPPED && info->state != STREAM_EVENT_PAUSED)
    info->state = STREAM_EVENT_DATA;
  LeaveCriticalSection(&info->lock);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Transmitting data ...");
  if (!allocate_ahead(r)) {
    stream_finish(info, r->generation, STREAM_EVENT_FAILURE);
    return PIECE_END;
  }
  return HTTP_parse_header_chunked(r->header) ? receive_chunked(r) : receive_plain(r);
}

}  // namespace

void *stream_http_receive_thread(void *argument) {
  auto *start = static_cast<stream_receiver_start *>(argument);
  receiver r;
  r.info = start->info;
  r.generation = start->generation;
  upnp_free_impl(start);
  StreamInfo *info = r.info;
  upnp_init_thread("RENDERER_HTTP_STREAM_RECEIVE");

  EnterCriticalSection(&info->lock);
  bool cancelled = info->receiver != r.generation;
  uint32_t first_state = info->state;
  LeaveCriticalSection(&info->lock);
  if (cancelled) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Receiver thread aborted during startup");
  } else {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "New receiver thread with ID %u", r.generation);
    bool go = true;
    if (first_state != STREAM_EVENT_SEEK && first_state != STREAM_EVENT_DATA)
      go = !stream_notify(info, r.generation, STREAM_EVENT_STARTED, 0);
    if (!go) stream_finish(info, r.generation, STREAM_EVENT_STOPPED);
    EnterCriticalSection(&info->lock);
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Receiving %s", info->url ? info->url : "");
    LeaveCriticalSection(&info->lock);
    piece_result result = go ? run(&r, first_state) : PIECE_END;
    stream_close_socket(info, &r.sock);
    // Whatever was read ahead belongs to this receiver only.
    upnp_free_impl(r.ahead);
    r.ahead = nullptr;
    EnterCriticalSection(&info->lock);
    bool current = info->receiver == r.generation;
    uint32_t final_state = info->state;
    LeaveCriticalSection(&info->lock);
    if (current && result == PIECE_PAUSED) {
      // Paused by closing: resume asks again from the position reached.
      EnterCriticalSection(&info->lock);
      if (info->receiver == r.generation) info->receiver = 0;
      LeaveCriticalSection(&info->lock);
    } else if (current) {
      if (final_state < STREAM_EVENT_STOPPED) {
        // Replaced only in state, never in receiver: cannot end without a code.
        stream_finish(info, r.generation, STREAM_EVENT_FAILURE);
        final_state = STREAM_EVENT_FAILURE;
      }
      stream_notify(info, r.generation, final_state, 0);
      EnterCriticalSection(&info->lock);
      if (info->receiver == r.generation) info->receiver = 0;
      LeaveCriticalSection(&info->lock);
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Terminating receiver thread with ID %u", r.generation);
    } else {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Terminating receiver thread - replaced by new one");
    }
  }
  info->running.fetch_sub(1);
  upnp_renderer_decrease_streaminfo_use(info);
  return nullptr;
}
