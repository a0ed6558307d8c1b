// A stream consumer for the receiver tests: records the event codes (runs of
// code 2 folded into one), the bytes delivered and the position of each piece,
// and lets a test pace, abort or watch the stream.
#ifndef TESTS_HTTP_HTTP_STREAM_TEST_UTIL_H
#define TESTS_HTTP_HTTP_STREAM_TEST_UTIL_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_stream.h"

struct StreamConsumer {
  std::mutex mutex;
  std::condition_variable changed;
  std::string events;  // e.g. "0 1 2 33"
  std::string data;
  std::vector<int64_t> piece_positions;
  uint32_t final_code = 0;
  bool ended = false;
  int pieces = 0;
  int last_code = -1;
  int abort_at_piece = -1;  // returns 1 at this piece (0-based)
  int piece_delay_us = 0;
  // Called (without the consumer's lock) for every event; true asks to abort.
  std::function<bool(uint32_t code, uint32_t count, StreamInfo *info, int64_t position)> hook;

  // Waits until a final code came; false after ms.
  bool wait_end(int ms);
  // Waits until at least n pieces came; false after ms.
  bool wait_pieces(int n, int ms);
};

// The callback: reads state and position under the record's lock.
int stream_consumer_callback(uint32_t count, StreamInfo *info);

// Creates, fills and starts a record for the consumer; none on failure.
StreamInfo *start_consumer_stream(StreamConsumer &consumer, const std::string &url, std::vector<char> &buffer,
                                  uint64_t features, const char *extra = nullptr, const char *caller = nullptr);

// Byte seeks one after another on a running stream, checked: after each seek
// returns, the first piece starts at the requested byte; every piece holds
// body's bytes at its position (what names the body in messages); nothing
// comes from a replaced receiver. Installs the consumer's hook, so it must
// outlive the stream.
class SeekChecker {
 public:
  SeekChecker(StreamConsumer &consumer, const std::string &body, const char *what);
  // count seeks to pseudo-random bytes below span, from seed; after seek i
  // sleeps pause_ms(i). A refused seek frees the record and fails fatally
  // (call inside ASSERT_NO_FATAL_FAILURE).
  void run(StreamInfo *info, uint64_t seed, int count, size_t span, const std::function<int(int)> &pause_ms);

 private:
  std::mutex m_;
  int64_t target_ = -1;
  bool seen_seek_ = false, first_piece_ = false, after_return_ = false;
};

// State and features of a record, read under its lock.
uint32_t stream_state(StreamInfo *info);
uint64_t stream_features(StreamInfo *info);

#endif
