// The slideshow timer ("SlideshowPlayer"), one per queue that shows
// pictures: it waits the interval after the renderer showed a picture (the
// transition wait while the renderer is TRANSITIONING), holds while the
// show is paused, ends on a stop by someone else, and moves to the next
// picture. Every timer is joined by the controller's stop with its bound.
#include <atomic>
#include <new>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"

namespace {

struct Timer {
  nmc_queue_ref queue;
  uint64_t number;
};

// The timers started and not yet joined; g_timers_lock guards the list.
std::mutex g_timers_lock;
std::vector<nmc_thread *> g_timers;
std::atomic<uint64_t> g_timer_numbers{0};

// Still the queue's timer, the queue still plays pictures, the controller
// runs.
bool still_ours(const Timer &timer) {
  if (lm_nmc_is_terminating()) return false;
  std::lock_guard<std::recursive_mutex> hold(timer.queue->lock);
  const nmc_queue_play &play = timer.queue->play;
  return !timer.queue->released && play.slideshow_timer == timer.number && play.playing && play.slideshow;
}

bool renderer_listed(int renderer) {
  nmc_device_view view;
  return nmc_devices_find(NMC_SIDE_RENDERER, renderer, &view) && !view.removed;
}

// The wait of the current state (ms).
uint64_t wait_of(const nmc_queue_play &play) {
  if (play.last_state == 2 && play.interval >= 1) return uint64_t{play.transit_wait} * 1000;
  return uint64_t{play.interval} * 1000;
}

enum Outcome { OUT_LEAVE, OUT_END, OUT_ADVANCE, OUT_STAY };

// Counts the wait down in 200 ms steps; a newer state event restarts it.
Outcome count_down(const Timer &timer) {
  uint64_t base = 0;
  uint64_t wait = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(timer.queue->lock);
    base = timer.queue->play.last_event_ms;
    wait = wait_of(timer.queue->play);
  }
  for (;;) {
    if (!still_ours(timer)) return OUT_LEAVE;
    {
      std::lock_guard<std::recursive_mutex> hold(timer.queue->lock);
      nmc_queue_play &play = timer.queue->play;
      const uint64_t now = getSystemTime();
      if (play.last_event_ms != base) {
        base = play.last_event_ms;
        wait = wait_of(play);
      }
      if ((play.last_state == 0 || play.last_state == 6) && now - play.last_advance_ms > 1000) {
        play.user_stopped = true;
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "slideshowPlayerThread",
                      "NMC: Detected third party stop of renderer - aborting slideshow");
        return OUT_END;
      }
      if (now >= base + wait) break;
    }
    Sleep(200);
  }
  return OUT_ADVANCE;
}

// After the wait: consume, the end of the mode, pauses and REPEAT_ONE.
Outcome after_wait(const Timer &timer) {
  {
    std::lock_guard<std::recursive_mutex> hold(timer.queue->lock);
    nmc_queue &queue = *timer.queue;
    if (queue.play.consume) {
      int position = nmc_queue_position(queue, queue.play.current);
      if (position >= 0) nmc_queue_remove_at(queue, static_cast<uint32_t>(position));
    }
    if (nmc_queue_finished_mode(queue.play)) return OUT_END;
  }
  for (;;) {
    if (!still_ours(timer)) return OUT_LEAVE;
    int renderer = -1;
    {
      std::lock_guard<std::recursive_mutex> hold(timer.queue->lock);
      const nmc_queue_play &play = timer.queue->play;
      renderer = play.renderer;
      const bool paused = play.last_state == 3 || (play.last_state == 1 && play.slideshow_paused);
      if (!paused) return play.mode == NMC_QUEUE_MODE_REPEAT_ONE ? OUT_STAY : OUT_ADVANCE;
    }
    // A paused show ends when its renderer goes away.
    if (!renderer_listed(renderer)) return OUT_END;
    Sleep(100);
  }
}

void timer_thread(void *argument) {
  Timer *timer = static_cast<Timer *>(argument);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "slideshowPlayerThread", "NMC: Starting slideshow thread");
  Outcome outcome = OUT_LEAVE;
  for (;;) {
    outcome = count_down(*timer);
    if (outcome == OUT_ADVANCE) outcome = after_wait(*timer);
    if (outcome == OUT_LEAVE || outcome == OUT_END) break;
    if (outcome == OUT_STAY) {
      std::lock_guard<std::recursive_mutex> hold(timer->queue->lock);
      timer->queue->play.last_event_ms = getSystemTime();
      continue;
    }
    {
      std::lock_guard<std::recursive_mutex> hold(timer->queue->lock);
      timer->queue->play.last_advance_ms = getSystemTime();
    }
    if (nmc_queue_play_next(timer->queue, false) != LM_NMC_OK) {
      outcome = OUT_END;
      break;
    }
    {
      std::lock_guard<std::recursive_mutex> hold(timer->queue->lock);
      // The next count starts from the change of picture.
      timer->queue->play.last_event_ms = getSystemTime();
      timer->queue->play.last_advance_ms = timer->queue->play.last_event_ms;
    }
    nmc_queue_raise(timer->queue, NMC_QUEUE_PLAYING);
  }
  if (outcome == OUT_END) {
    int renderer = -1;
    bool ours = false;
    {
      std::lock_guard<std::recursive_mutex> hold(timer->queue->lock);
      nmc_queue_play &play = timer->queue->play;
      ours = play.slideshow_timer == timer->number && !timer->queue->released;
      if (ours) {
        play.playing = false;
        play.slideshow_timer = 0;
        play.slideshow_paused = false;
        renderer = play.renderer;
      }
    }
    if (ours) {
      nmc_queue_raise(timer->queue, NMC_QUEUE_STOPPED);
      if (!lm_nmc_is_terminating() && renderer_listed(renderer)) nmc_queue_renderer_stop(renderer);
    }
  } else {
    std::lock_guard<std::recursive_mutex> hold(timer->queue->lock);
    if (timer->queue->play.slideshow_timer == timer->number) timer->queue->play.slideshow_timer = 0;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "slideshowPlayerThread", "NMC: Leaving slideshow thread");
  delete timer;
}

// Joins the timers that ended (bounded: they have).
void reap_ended(void) {
  std::vector<nmc_thread *> ended;
  {
    std::lock_guard<std::mutex> hold(g_timers_lock);
    for (auto it = g_timers.begin(); it != g_timers.end();) {
      if (nmc_thread_ended(*it)) {
        ended.push_back(*it);
        it = g_timers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (nmc_thread *thread : ended) nmc_thread_join_bounded(thread, NMC_THREAD_JOIN_BOUND_MS);
}

}  // namespace

bool nmc_queue_slideshow_start(const nmc_queue_ref &queue) {
  reap_ended();
  if (lm_nmc_is_terminating() || queue == nullptr) return false;
  Timer *timer = new (std::nothrow) Timer;
  if (timer == nullptr) return false;
  timer->queue = queue;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (queue->released || queue->play.slideshow_timer != 0) {
      delete timer;
      return queue->play.slideshow_timer != 0;
    }
    timer->number = g_timer_numbers.fetch_add(1) + 1;
    queue->play.slideshow_timer = timer->number;
    queue->play.last_advance_ms = getSystemTime();
  }
  // The list lock is held over the start so that a join of all timers
  // cannot miss this one.
  std::lock_guard<std::mutex> hold(g_timers_lock);
  nmc_thread *thread = nmc_thread_start(timer_thread, timer, "SlideshowPlayer");
  if (thread == nullptr) {
    std::lock_guard<std::recursive_mutex> q(queue->lock);
    if (queue->play.slideshow_timer == timer->number) queue->play.slideshow_timer = 0;
    delete timer;
    return false;
  }
  g_timers.push_back(thread);
  return true;
}

void nmc_queue_slideshow_join_all(void) {
  std::vector<nmc_thread *> all;
  {
    std::lock_guard<std::mutex> hold(g_timers_lock);
    all.swap(g_timers);
  }
  for (nmc_thread *thread : all) nmc_thread_join_bounded(thread, NMC_THREAD_JOIN_BOUND_MS);
}
