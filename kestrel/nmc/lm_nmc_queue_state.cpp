// A renderer's transport state events for its queue: pending stops, the
// own-transition mark, consume, advancing after a track ends (REPEAT_ONE,
// DIRECT_1, repeat), foreign stops, and handing slideshows to their timer.
#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_queue.h"

namespace {

enum After { AFTER_NOTHING, AFTER_STOP_RENDERER, AFTER_ADVANCE, AFTER_SLIDESHOW, AFTER_END };

}  // namespace

bool nmc_queue_foreign_stop(const nmc_queue_play &play, int previous_state, uint64_t now_ms) {
  if (play.duration_ms == 0 || play.duration_ms == NMC_QUEUE_UNKNOWN_DURATION) return false;
  bool foreign = false;
  if (previous_state == 3) {
    foreign = true;
  } else if (play.duration_ms >= 8000) {
    long long end = static_cast<long long>(play.start_ms + play.duration_ms) - 8000;
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "nmc_queue_foreign_stop", "%lld <= %lld + %llu - 8000 = %lld",
                  static_cast<long long>(now_ms), static_cast<long long>(play.start_ms),
                  static_cast<unsigned long long>(play.duration_ms), end);
    foreign = static_cast<long long>(now_ms) <= end;
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "nmc_queue_foreign_stop", "Detected foreign stop: %d", foreign ? 1 : 0);
  return foreign;
}

void nmc_queue_handle_state(int renderer, int state) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return;
  After after = AFTER_NOTHING;
  bool same = false;
  nmc_queue_event_out removed;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (queue->released) return;
    nmc_queue_play &play = queue->play;
    const uint64_t now = getSystemTime();
    const int previous = play.last_state;
    if (state == 1) {
      play.last_state = state;
      play.last_event_ms = now;
      // The track change is over once the renderer plays.
      play.own_transition = false;
      if (play.stop_pending) {
        play.stop_pending = false;
        after = AFTER_STOP_RENDERER;
      } else if (play.playing && !play.slideshow) {
        nmc_queue_schedule_poll(renderer, 3000);
      }
    } else if (state == 2) {
      play.last_state = state;
      play.last_event_ms = now;
      play.transitioning_ms = now;
      if (!play.stop_pending && play.playing && !play.slideshow) play.start_ms = now;
    } else if (state != 0) {
      play.last_state = state;
      play.last_event_ms = now;
    } else {
      // A STOPPED directly after STOPPED is the same stop.
      if (previous == 0) return;
      play.last_state = 0;
      play.last_event_ms = now;
      const bool finished = nmc_queue_finished_mode(play);
      const bool foreign = play.playing && !play.own_transition && !play.user_stopped && !finished &&
                           nmc_queue_foreign_stop(play, previous, now);
      const bool advance = !play.own_transition && play.playing && !play.user_stopped && !finished && !foreign;
      if (play.user_stopped && !play.slideshow) {
        // The user's stop ends the queue (its "Stopped" went out with it).
        play.playing = false;
        play.user_stopped = false;
      }
      if (play.consume && play.playing && !play.own_transition) {
        int position = nmc_queue_position(*queue, play.current);
        if (position >= 0 && nmc_queue_remove_at(*queue, static_cast<uint32_t>(position))) {
          removed = nmc_queue_event_make(*queue, NMC_QUEUE_ITEM_REMOVED);
        }
      }
      play.own_transition = false;
      if (advance) {
        if (play.slideshow && play.interval > 0) {
          after = AFTER_SLIDESHOW;
        } else {
          after = AFTER_ADVANCE;
          same = play.mode == NMC_QUEUE_MODE_REPEAT_ONE;
        }
      } else if ((finished || foreign) && play.playing) {
        play.playing = false;
        after = AFTER_END;
      }
    }
  }
  nmc_queue_event_send(removed);
  switch (after) {
    case AFTER_STOP_RENDERER:
      nmc_queue_renderer_stop(renderer);
      break;
    case AFTER_SLIDESHOW:
      nmc_queue_slideshow_start(queue);
      break;
    case AFTER_ADVANCE:
      if (nmc_queue_play_next(queue, same) == LM_NMC_OK) {
        nmc_queue_raise(queue, NMC_QUEUE_PLAYING);
        break;
      }
      {
        std::lock_guard<std::recursive_mutex> hold(queue->lock);
        queue->play.playing = false;
      }
      nmc_queue_raise(queue, NMC_QUEUE_STOPPED);
      break;
    case AFTER_END:
      nmc_queue_raise(queue, NMC_QUEUE_STOPPED);
      break;
    case AFTER_NOTHING:
      break;
  }
}
