// One stream of a URL through the library's stream receiver, watched from the
// consumer's side: the events in order (runs of data pieces folded into one
// record with their bytes, starting position and MD5), the bytes and MD5 of
// everything delivered, and optionally each piece held against the bytes it
// should be. Pause, resume and seeks go to the receiver as a player would
// send them. Used by kestrel-stream, the lab tests and the benchmark.
#ifndef TOOLS_KESTREL_STREAM_STREAM_SESSION_H
#define TOOLS_KESTREL_STREAM_STREAM_SESSION_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_stream.h"
#include "stream_md5.h"

struct StreamRecord {
  double ms = 0;          // since the start, when the event (or the run's last piece) came
  uint32_t code = 0;      // the event code; STREAM_EVENT_DATA for a run of pieces
  uint64_t bytes = 0;     // the run's bytes, the header's length for event 1, else 0
  uint32_t pieces = 0;    // pieces of the run
  int64_t position = 0;   // the stream position of the run's first byte (other events: the position then)
  int64_t breaks = 0;     // pieces of the run that did not start where the one before ended
  std::string md5;        // of the run's bytes
  bool open = false;      // reported at the run's first piece (reported again, closed, at its end)
};

struct StreamSessionOptions {
  uint32_t buffer_size = 64 * 1024;
  bool md5 = true;             // digest what is delivered (off for throughput runs)
  uint32_t pace_kib_s = 0;     // consume no faster than this (KiB/s), 0 as fast as delivered
  const std::string *reference = nullptr;  // each piece is compared with these bytes at its position
  // Called on the receiver's thread for each record as it completes, and for
  // a data run also at its first piece (open set).
  std::function<void(const StreamRecord &)> on_record;
};

// A readable name of an event code ("HEADER", "END", ...).
const char *stream_event_name(uint32_t code);

class StreamSession {
 public:
  explicit StreamSession(StreamSessionOptions options);
  ~StreamSession();  // frees the record (no callback comes after)
  StreamSession(const StreamSession &) = delete;
  StreamSession &operator=(const StreamSession &) = delete;

  // Starts the stream; the library's result (200 when started).
  int start(const std::string &url);
  int pause();
  int resume();
  int seek_bytes(int64_t position);
  int seek_time(int64_t ms);
  void stop();

  // Waits until a final code came (false after ms).
  bool wait_end(int ms);
  // Waits until at least n bytes were delivered or the stream ended.
  bool wait_bytes(uint64_t n, int ms);

  uint32_t final_code();
  uint64_t bytes();          // delivered in all
  std::string md5();         // of all delivered bytes in order (empty with md5 off)
  uint64_t mismatches();     // bytes of pieces unlike the reference at their position
  std::vector<StreamRecord> records();  // the open data run included
  std::string codes();       // the event codes in order, runs of data as one "2"
  double seconds();          // from start to the final code (or now)
  // Read from the record under its lock.
  uint64_t features();
  int64_t total_length();
  std::string content_type();
  StreamInfo *info() { return info_; }

 private:
  static int callback(uint32_t count, StreamInfo *info);
  int on_event(uint32_t code, uint32_t count, int64_t position);
  void close_run_locked();
  double now_ms() const;

  StreamSessionOptions options_;
  std::vector<char> buffer_;
  StreamInfo *info_ = nullptr;
  int64_t started_ns_ = 0;

  std::mutex mutex_;  // the receiver's callback and the caller's readers
  std::condition_variable changed_;
  std::vector<StreamRecord> records_;
  StreamRecord run_;  // the data run in progress (pieces 0: none)
  StreamMd5 run_md5_, all_md5_;
  std::string all_md5_hex_;
  uint64_t bytes_ = 0, mismatches_ = 0;
  // A data piece wakes the waiters only once this many bytes came (a wake-up
  // per piece would cost more than the piece).
  uint64_t wake_at_ = UINT64_MAX;
  uint32_t final_ = 0;
  double ended_ms_ = -1;
};

#endif
