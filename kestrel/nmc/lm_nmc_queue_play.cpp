// Playing queue entries on the renderer: the current entry, the next
// playable one (each entry tried at most once per attempt), skips and
// repositioning. The queue's lock is held only to read and change the
// queue; every request to the renderer runs without it, and the entry is
// found again by its number afterwards.
#include <cstring>
#include <set>

#include "base/upnp_thread.h"
#include "nmc/lm_nmc_queue.h"

namespace {

// Takes over the stored facts of an entry's metadata.
void apply_facts(nmc_queue_play &play, const std::string &metadata) {
  uint64_t duration = 0;
  uint64_t size = 0;
  bool image = false;
  nmc_queue_metadata_facts(metadata, &duration, &size, &image);
  play.duration_ms = duration;
  play.expected_size = size;
  play.slideshow = image;
}

// Resolves entry `id` and sends it to the renderer (play false: only its
// URI). The entry becomes the current one.
lm_nmc_result_t play_entry(const nmc_queue_ref &queue, uint64_t id, bool play) {
  nmc_queue_item item;
  int renderer = -1;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (queue->released) return LM_NMC_GOING_DOWN;
    int position = nmc_queue_position(*queue, id);
    if (position < 0) return LM_NMC_NOT_FOUND;
    const nmc_queue_entry &entry = queue->entries[static_cast<size_t>(position)];
    item.url = entry.url;
    item.metadata = entry.metadata;
    item.server_udn = entry.server_udn;
    item.object_id = entry.object_id;
    renderer = queue->play.renderer;
    queue->play.current = id;
    queue->play.following = 0;
    queue->play.own_transition = true;
    queue->play.start_ms = getSystemTime();
    apply_facts(queue->play, entry.metadata);
  }
  std::string used;
  lm_nmc_result_t result = nmc_queue_renderer_send(renderer, item, play, &used);
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  // The entry may have gone or the queue moved on while the renderer was
  // asked: only the entry that is still current takes the facts.
  if (queue->play.current == id && result == LM_NMC_OK) {
    if (!used.empty()) apply_facts(queue->play, used);
    queue->play.start_ms = getSystemTime();
    queue->play.last_advance_ms = queue->play.start_ms;
  }
  return result;
}

// A failure that skips to the next entry rather than ending the attempt.
bool skippable(lm_nmc_result_t result) { return result == LM_NMC_NOT_FOUND || result >= 300; }

}  // namespace

namespace {

// The attempt behind nmc_queue_play_next; `failed` is an entry already
// tried by the caller.
lm_nmc_result_t play_next(const nmc_queue_ref &queue, bool same, uint64_t failed) {
  size_t count = 0;
  std::set<uint64_t> tried;
  if (failed != 0) tried.insert(failed);
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    count = queue->entries.size();
  }
  lm_nmc_result_t result = LM_NMC_NOT_FOUND;
  // Every entry at most once (the one that just ended included, which
  // repeat may bring back): at most count + 1 tries, never an endless loop
  // even when entries go away meanwhile.
  for (size_t tries = 0; tries <= count; ++tries) {
    if (lm_nmc_is_terminating()) return LM_NMC_GOING_DOWN;
    uint64_t next = 0;
    {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      nmc_queue_play &play = queue->play;
      if (queue->released) return LM_NMC_GOING_DOWN;
      if (play.user_stopped) {
        play.playing = false;
        return NMC_QUEUE_USER_STOPPED;
      }
      if (queue->entries.empty()) return LM_NMC_NOT_FOUND;
      int current = nmc_queue_position(*queue, play.current);
      if (same && tries == 0 && current >= 0) {
        next = play.current;
      } else {
        size_t position = 0;
        if (current >= 0) {
          position = static_cast<size_t>(current) + 1;
        } else {
          int following = nmc_queue_position(*queue, play.following);
          position = following >= 0 ? static_cast<size_t>(following) : 0;
        }
        if (position >= queue->entries.size()) {
          if (!play.repeat) return LM_NMC_NOT_FOUND;
          if (play.mode == NMC_QUEUE_MODE_SHUFFLE) nmc_queue_shuffle(*queue);
          position = 0;
        }
        next = queue->entries[position].id;
      }
      // Back at an entry this attempt already tried: nothing plays.
      if (!tried.insert(next).second) return LM_NMC_NOT_FOUND;
    }
    result = play_entry(queue, next, true);
    if (result == LM_NMC_OK) {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      queue->play.playing = true;
      return LM_NMC_OK;
    }
    if (!skippable(result)) return result;
  }
  return LM_NMC_NOT_FOUND;
}

}  // namespace

lm_nmc_result_t nmc_queue_play_next(const nmc_queue_ref &queue, bool same) { return play_next(queue, same, 0); }

lm_nmc_result_t nmc_queue_play_current(const nmc_queue_ref &queue) {
  uint64_t id = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    nmc_queue_play &play = queue->play;
    play.user_stopped = false;
    play.slideshow_paused = false;
    play.stop_pending = false;
    if (nmc_queue_position(*queue, play.current) >= 0) {
      id = play.current;
    } else if (nmc_queue_position(*queue, play.following) >= 0) {
      id = play.following;
    } else if (!queue->entries.empty()) {
      if (play.mode == NMC_QUEUE_MODE_SHUFFLE) nmc_queue_shuffle(*queue);
      id = queue->entries.front().id;
    }
    if (id == 0) {
      play.playing = false;
      return LM_NMC_NOT_FOUND;
    }
  }
  lm_nmc_result_t result = play_entry(queue, id, true);
  if (skippable(result)) {
    // The entry that failed is current now: the attempt starts after it and
    // does not come back to it.
    {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      queue->play.current = id;
    }
    result = play_next(queue, false, id);
  }
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  queue->play.playing = result == LM_NMC_OK;
  return result;
}

lm_nmc_result_t nmc_queue_reposition(const nmc_queue_ref &queue, uint32_t position, bool set_uri) {
  uint64_t id = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (position >= queue->entries.size()) return LM_NMC_INVALID_PARAMETER;
    id = queue->entries[position].id;
    queue->play.current = id;
    queue->play.following = 0;
  }
  return set_uri ? play_entry(queue, id, false) : LM_NMC_OK;
}

lm_nmc_result_t nmc_queue_skip(const nmc_queue_ref &queue, const char *where, bool play) {
  if (where == nullptr) return LM_NMC_INVALID_PARAMETER;
  uint64_t id = 0;
  int renderer = -1;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    const int size = static_cast<int>(queue->entries.size());
    if (size == 0) return LM_NMC_NOT_FOUND;
    int current = nmc_queue_position(*queue, queue->play.current);
    int following = nmc_queue_position(*queue, queue->play.following);
    int target = -1;
    if (std::strcmp(where, "first") == 0) {
      target = 0;
    } else if (std::strcmp(where, "last") == 0) {
      target = size - 1;
    } else if (std::strcmp(where, "next") == 0) {
      target = current >= 0 ? current + 1 : (following >= 0 ? following : 0);
      if (target >= size) target = queue->play.repeat ? 0 : -1;
    } else if (std::strcmp(where, "previous") == 0) {
      target = current >= 0 ? current - 1 : (following >= 0 ? following - 1 : -1);
      if (target < 0 && queue->play.repeat) target = size - 1;
    } else if (std::strcmp(where, "current") == 0) {
      target = current >= 0 ? current : following;
    } else {
      return LM_NMC_INVALID_PARAMETER;
    }
    if (target < 0) return LM_NMC_NOT_FOUND;
    const nmc_queue_entry &entry = queue->entries[static_cast<size_t>(target)];
    if (entry.url.empty() && entry.server_udn.empty()) return LM_NMC_NO_VALUE;
    id = entry.id;
    renderer = queue->play.renderer;
    if (!play) {
      queue->play.current = id;
      queue->play.following = 0;
      return LM_NMC_OK;
    }
    queue->play.user_stopped = false;
  }
  const bool playing = nmc_queue_renderer_state(renderer) == 1;
  lm_nmc_result_t result = play_entry(queue, id, playing);
  if (result == LM_NMC_OK && playing) {
    {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      queue->play.playing = true;
    }
    nmc_queue_raise(queue, NMC_QUEUE_PLAYING);
  }
  return result;
}
