#include "http_stream_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

bool StreamConsumer::wait_end(int ms) {
  std::unique_lock<std::mutex> hold(mutex);
  return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return ended; });
}

bool StreamConsumer::wait_pieces(int n, int ms) {
  std::unique_lock<std::mutex> hold(mutex);
  return changed.wait_for(hold, std::chrono::milliseconds(ms), [this, n] { return pieces >= n || ended; }) &&
         pieces >= n;
}

uint32_t stream_state(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  uint32_t state = info->state;
  LeaveCriticalSection(&info->lock);
  return state;
}

uint64_t stream_features(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  uint64_t features = info->features;
  LeaveCriticalSection(&info->lock);
  return features;
}

int stream_consumer_callback(uint32_t count, StreamInfo *info) {
  auto *c = static_cast<StreamConsumer *>(info->context);
  EnterCriticalSection(&info->lock);
  uint32_t code = info->state;
  int64_t position = info->position;
  LeaveCriticalSection(&info->lock);
  bool abort = false;
  if (c->hook) abort = c->hook(code, count, info, position);
  {
    std::lock_guard<std::mutex> hold(c->mutex);
    std::string name = std::to_string(code);
    if (!(code == STREAM_EVENT_DATA && c->last_code == STREAM_EVENT_DATA))
      c->events += (c->events.empty() ? "" : " ") + std::to_string(code);
    c->last_code = static_cast<int>(code);
    if (code == STREAM_EVENT_DATA) {
      c->data.append(info->buffer, count);
      c->piece_positions.push_back(position);
      if (c->pieces++ == c->abort_at_piece) abort = true;
    }
    if (code >= STREAM_EVENT_STOPPED) {
      c->final_code = code;
      c->ended = true;
    }
  }
  c->changed.notify_all();
  if (c->piece_delay_us > 0 && code == STREAM_EVENT_DATA)
    std::this_thread::sleep_for(std::chrono::microseconds(c->piece_delay_us));
  return abort ? 1 : 0;
}

StreamInfo *start_consumer_stream(StreamConsumer &consumer, const std::string &url, std::vector<char> &buffer,
                                  uint64_t features, const char *extra, const char *caller) {
  StreamInfo *info = upnp_client_createStreamInfo();
  if (!info) return nullptr;
  info->context = &consumer;
  info = upnp_client_initStreamInfo(info, buffer.data(), static_cast<uint32_t>(buffer.size()), url.c_str(), extra,
                                    caller, stream_consumer_callback, features);
  if (!info) return nullptr;
  return upnp_client_startHttpStream(info);
}

SeekChecker::SeekChecker(StreamConsumer &consumer, const std::string &body, const char *what) {
  consumer.hook = [this, &body, what](uint32_t code, uint32_t count, StreamInfo *info, int64_t position) {
    std::lock_guard<std::mutex> hold(m_);
    if (code == STREAM_EVENT_SEEK) seen_seek_ = first_piece_ = true;
    if (code == STREAM_EVENT_DATA) {
      if (after_return_ && !seen_seek_) ADD_FAILURE() << "a piece from a replaced receiver at " << position;
      if (seen_seek_ && first_piece_ && position != target_)
        ADD_FAILURE() << "first piece at " << position << " instead of " << target_;
      first_piece_ = false;
      if (body.compare(static_cast<size_t>(position), count, info->buffer, count) != 0)
        ADD_FAILURE() << "bytes at " << position << " are not the " << what << "'s";
    }
    return false;
  };
}

void SeekChecker::run(StreamInfo *info, uint64_t seed, int count, size_t span,
                      const std::function<int(int)> &pause_ms) {
  uint64_t next = seed;
  for (int i = 0; i < count; ++i) {
    next = (next * 1103515245 + 12345) % span;
    // A seek in progress (state 16) refuses the next one.
    for (int w = 0; w < 5000 && stream_state(info) == STREAM_EVENT_SEEK; ++w)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
      std::lock_guard<std::mutex> hold(m_);
      target_ = static_cast<int64_t>(next);
      after_return_ = seen_seek_ = false;
    }
    int result = upnp_renderer_seek_stream(info, 0, static_cast<int64_t>(next));
    if (result != STREAM_OK) upnp_renderer_free_streaminfo(info);
    ASSERT_EQ(result, STREAM_OK);
    {
      std::lock_guard<std::mutex> hold(m_);
      after_return_ = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(i)));
  }
}
