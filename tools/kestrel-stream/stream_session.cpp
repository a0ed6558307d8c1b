#include "stream_session.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "base/upnp_critsec.h"

namespace {

int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

const char *stream_event_name(uint32_t code) {
  switch (code) {
    case STREAM_EVENT_STARTED: return "STARTED";
    case STREAM_EVENT_HEADER: return "HEADER";
    case STREAM_EVENT_DATA: return "DATA";
    case STREAM_EVENT_PAUSED: return "PAUSED";
    case STREAM_EVENT_SEEK: return "SEEK";
    case STREAM_EVENT_STOPPED: return "STOPPED";
    case STREAM_EVENT_END: return "END";
    case STREAM_EVENT_FAILURE: return "FAILURE";
    default: return "?";
  }
}

StreamSession::StreamSession(StreamSessionOptions options)
    : options_(std::move(options)), buffer_(options_.buffer_size > 0 ? options_.buffer_size : 1) {}

StreamSession::~StreamSession() {
  // Free waits until no receiver is in the buffer or the callback any more.
  if (info_) upnp_renderer_free_streaminfo(info_);
}

double StreamSession::now_ms() const { return (monotonic_ns() - started_ns_) / 1e6; }

int StreamSession::start(const std::string &url) {
  if (info_) return STREAM_NOT_ALLOWED;
  StreamInfo *info = upnp_client_createStreamInfo();
  if (!info) return STREAM_FAILED;
  info->context = this;
  info = upnp_client_initStreamInfo(info, buffer_.data(), static_cast<uint32_t>(buffer_.size()), url.c_str(), nullptr,
                                    nullptr, &StreamSession::callback, 0);
  if (!info) return STREAM_FAILED;
  started_ns_ = monotonic_ns();
  // The record is ours before the receiver can call back with it.
  info_ = info;
  if (!upnp_client_startHttpStream(info)) {
    info_ = nullptr;  // the failed start released it
    return STREAM_FAILED;
  }
  return STREAM_OK;
}

int StreamSession::pause() { return info_ ? upnp_renderer_pause_stream(info_) : STREAM_MISSING_ARGUMENT; }
int StreamSession::resume() { return info_ ? upnp_renderer_resume_stream(info_) : STREAM_MISSING_ARGUMENT; }
int StreamSession::seek_bytes(int64_t position) {
  return info_ ? upnp_renderer_seek_stream(info_, 0, position) : STREAM_MISSING_ARGUMENT;
}
int StreamSession::seek_time(int64_t ms) {
  return info_ ? upnp_renderer_seek_stream(info_, 1, ms) : STREAM_MISSING_ARGUMENT;
}
void StreamSession::stop() {
  if (info_) upnp_renderer_stop_stream(info_);
}

int StreamSession::callback(uint32_t count, StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  uint32_t code = info->state;
  int64_t position = info->position;
  LeaveCriticalSection(&info->lock);
  return static_cast<StreamSession *>(info->context)->on_event(code, count, position);
}

void StreamSession::close_run_locked() {
  if (run_.pieces == 0) return;
  if (options_.md5) run_.md5 = run_md5_.hex();
  records_.push_back(run_);
  if (options_.on_record) options_.on_record(run_);
  run_ = StreamRecord();
}

int StreamSession::on_event(uint32_t code, uint32_t count, int64_t position) {
  bool wake = true;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (code == STREAM_EVENT_DATA) {
      const char *data = buffer_.data();
      const bool first = run_.pieces == 0;
      if (first) {
        run_.code = STREAM_EVENT_DATA;
        run_.position = position;
        run_md5_.reset();
      } else if (run_.position + static_cast<int64_t>(run_.bytes) != position) {
        ++run_.breaks;
      }
      ++run_.pieces;
      run_.bytes += count;
      run_.ms = now_ms();
      bytes_ += count;
      if (options_.md5) {
        run_md5_.update(data, count);
        all_md5_.update(data, count);
      }
      if (options_.reference) {
        const std::string &ref = *options_.reference;
        if (position < 0 || static_cast<uint64_t>(position) + count > ref.size() ||
            std::memcmp(ref.data() + position, data, count) != 0)
          mismatches_ += count;
      }
      wake = bytes_ >= wake_at_;
      if (first && options_.on_record) {
        StreamRecord opened = run_;
        opened.open = true;
        options_.on_record(opened);
      }
    } else {
      close_run_locked();
      StreamRecord r;
      r.ms = now_ms();
      r.code = code;
      r.bytes = code == STREAM_EVENT_HEADER || code == STREAM_EVENT_SEEK ? count : 0;
      r.position = position;
      records_.push_back(r);
      if (options_.on_record) options_.on_record(r);
      if (code >= STREAM_EVENT_STOPPED) {
        final_ = code;
        ended_ms_ = r.ms;
      }
    }
  }
  if (wake) changed_.notify_all();
  if (code == STREAM_EVENT_DATA && options_.pace_kib_s > 0)
    std::this_thread::sleep_for(
        std::chrono::microseconds(uint64_t(count) * 1000000 / (uint64_t(options_.pace_kib_s) * 1024)));
  return 0;
}

bool StreamSession::wait_end(int ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return final_ != 0; });
}

bool StreamSession::wait_bytes(uint64_t n, int ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  wake_at_ = n;
  changed_.wait_for(hold, std::chrono::milliseconds(ms), [this, n] { return bytes_ >= n || final_ != 0; });
  wake_at_ = UINT64_MAX;
  return bytes_ >= n;
}

uint32_t StreamSession::final_code() {
  std::lock_guard<std::mutex> hold(mutex_);
  return final_;
}

uint64_t StreamSession::bytes() {
  std::lock_guard<std::mutex> hold(mutex_);
  return bytes_;
}

std::string StreamSession::md5() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!options_.md5) return "";
  StreamMd5 copy = all_md5_;  // the running digest goes on
  return copy.hex();
}

uint64_t StreamSession::mismatches() {
  std::lock_guard<std::mutex> hold(mutex_);
  return mismatches_;
}

std::vector<StreamRecord> StreamSession::records() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<StreamRecord> out = records_;
  if (run_.pieces > 0) {
    out.push_back(run_);
    if (options_.md5) {
      StreamMd5 copy = run_md5_;
      out.back().md5 = copy.hex();
    }
  }
  return out;
}

std::string StreamSession::codes() {
  std::string out;
  for (const StreamRecord &r : records()) out += (out.empty() ? "" : " ") + std::to_string(r.code);
  return out;
}

double StreamSession::seconds() {
  std::lock_guard<std::mutex> hold(mutex_);
  return (ended_ms_ >= 0 ? ended_ms_ : now_ms()) / 1000.0;
}

uint64_t StreamSession::features() {
  if (!info_) return 0;
  EnterCriticalSection(&info_->lock);
  uint64_t f = info_->features;
  LeaveCriticalSection(&info_->lock);
  return f;
}

int64_t StreamSession::total_length() {
  if (!info_) return 0;
  EnterCriticalSection(&info_->lock);
  int64_t n = info_->total_length;
  LeaveCriticalSection(&info_->lock);
  return n;
}

std::string StreamSession::content_type() {
  if (!info_) return "";
  EnterCriticalSection(&info_->lock);
  std::string t = info_->content_type ? info_->content_type : "";
  LeaveCriticalSection(&info_->lock);
  return t;
}
