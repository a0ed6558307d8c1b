// The queue's worker, the "DMR Position Polling" thread: it handles the
// renderer state events of renderers with a queue (so that no request to a
// renderer runs on the control point's notifier thread) and the position
// polls that correct a playing entry's start time.
#include <condition_variable>
#include <deque>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"

namespace {

enum WorkKind { WORK_STATE, WORK_DURATION };
struct Work {
  WorkKind kind;
  int renderer;
  int state;
  uint64_t value;
};
struct Poll {
  uint64_t due;
  int renderer;
};

// g_lock guards the work and poll lists and the worker's record; the
// signal wakes the worker for new work or its stop.
std::mutex g_lock;
std::condition_variable g_signal;
std::deque<Work> g_work;
std::vector<Poll> g_polls;
bool g_running = false;
bool g_stop = false;
nmc_thread *g_worker = nullptr;

void post(const Work &work) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_running) return;
  g_work.push_back(work);
  g_signal.notify_one();
}

void worker(void *) {
  std::unique_lock<std::mutex> hold(g_lock);
  while (!g_stop && !lm_nmc_is_terminating()) {
    if (!g_work.empty()) {
      Work work = g_work.front();
      g_work.pop_front();
      hold.unlock();
      if (work.kind == WORK_STATE) {
        nmc_queue_handle_state(work.renderer, work.state);
      } else if (nmc_queue_ref queue = nmc_queue_of_renderer(work.renderer)) {
        std::lock_guard<std::recursive_mutex> q(queue->lock);
        if (!queue->play.slideshow) queue->play.duration_ms = work.value;
      }
      hold.lock();
      continue;
    }
    uint64_t now = getSystemTime();
    if (!g_polls.empty()) {
      // The first request; due within 50 ms it runs now.
      size_t first = 0;
      for (size_t i = 1; i < g_polls.size(); ++i) {
        if (g_polls[i].due < g_polls[first].due) first = i;
      }
      if (g_polls[first].due <= now + 50) {
        int renderer = g_polls[first].renderer;
        g_polls.erase(g_polls.begin() + static_cast<long>(first));
        hold.unlock();
        nmc_queue_poll_position(renderer);
        hold.lock();
        continue;
      }
      uint64_t wait = g_polls[first].due - now;
      g_signal.wait_for(hold, std::chrono::milliseconds(wait < 500 ? wait : 500));
      continue;
    }
    g_signal.wait_for(hold, std::chrono::milliseconds(500));
  }
}

}  // namespace

void nmc_queue_worker_start(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_running) return;
  g_stop = false;
  g_work.clear();
  g_polls.clear();
  g_worker = nmc_thread_start(worker, nullptr, "DMR Position Polling");
  g_running = g_worker != nullptr;
}

void nmc_queue_worker_stop(void) {
  nmc_thread *thread = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_stop = true;
    g_running = false;
    thread = g_worker;
    g_worker = nullptr;
    g_signal.notify_all();
  }
  if (thread != nullptr) nmc_thread_join_bounded(thread, NMC_THREAD_JOIN_BOUND_MS);
  std::lock_guard<std::mutex> hold(g_lock);
  g_work.clear();
  g_polls.clear();
}

void nmc_queue_post_state(int renderer, int state) { post({WORK_STATE, renderer, state, 0}); }

void nmc_queue_post_duration(int renderer, uint64_t duration_ms) {
  post({WORK_DURATION, renderer, -1, duration_ms});
}

void nmc_queue_schedule_poll(int renderer, uint64_t due_ms) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_running) return;
  for (auto it = g_polls.begin(); it != g_polls.end(); ++it) {
    if (it->renderer == renderer) {
      g_polls.erase(it);
      break;
    }
  }
  g_polls.push_back({getSystemTime() + due_ms, renderer});
  g_signal.notify_one();
}

void nmc_queue_poll_position(int renderer) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return;
  uint64_t entry = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    const nmc_queue_play &play = queue->play;
    if (!play.playing || play.slideshow || getSystemTime() - play.last_event_ms <= 1000) return;
    entry = play.current;
  }
  uint64_t position = 0;
  uint64_t duration = 0;
  if (nmc_queue_renderer_position(renderer, &position, &duration) != LM_NMC_OK) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  nmc_queue_play &play = queue->play;
  if (play.current != entry || entry == 0) return;
  uint64_t now = getSystemTime();
  long long corrected = static_cast<long long>(now) - static_cast<long long>(position);
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "pollRequestThread", "Updating play position from %lld to %llu - %llu = %lld",
                static_cast<long long>(play.start_ms), static_cast<unsigned long long>(now),
                static_cast<unsigned long long>(position), corrected);
  play.start_ms = corrected > 0 ? static_cast<uint64_t>(corrected) : 0;
  if (duration > 0) play.duration_ms = duration;
}
