// Entries of a queue and its play position: insertion, removal, moves,
// play index and pending count, play modes and shuffling. Every function
// here runs with the queue's lock held by the caller.
#include <cstring>
#include <mutex>
#include <random>
#include <strings.h>

#include "base/upnp_log.h"
#include "nmc/lm_nmc_queue.h"

namespace {

const char *const k_mode_names[] = {"NORMAL", "SHUFFLE", "REPEAT_ONE", "REPEAT_ALL", "RANDOM", "DIRECT_1"};

}  // namespace

int nmc_queue_position(const nmc_queue &queue, uint64_t entry) {
  if (entry == 0) return -1;
  for (size_t i = 0; i < queue.entries.size(); ++i) {
    if (queue.entries[i].id == entry) return static_cast<int>(i);
  }
  return -1;
}

void nmc_queue_play_index(const nmc_queue &queue, int *index, uint32_t *pending) {
  const uint32_t count = static_cast<uint32_t>(queue.entries.size());
  const nmc_queue_play &play = queue.play;
  if (play.mode == NMC_QUEUE_MODE_NONE) {
    *index = -1;
    *pending = 0;
    return;
  }
  int position = nmc_queue_position(queue, play.current);
  if (position < 0) {
    int following = nmc_queue_position(queue, play.following);
    // A removed current entry: the position before the following one.
    position = following >= 0 ? following - 1 : -1;
  }
  *index = position;
  *pending = position < 0 ? count : count - static_cast<uint32_t>(position) - 1;
  if (play.mode == NMC_QUEUE_MODE_REPEAT_ONE || play.mode == NMC_QUEUE_MODE_DIRECT_1) *pending = 0;
}

uint32_t nmc_queue_insert(nmc_queue &queue, nmc_queue_entry entry, uint32_t position) {
  if (position > queue.entries.size()) position = static_cast<uint32_t>(queue.entries.size());
  entry.id = queue.next_entry++;
  if (entry.share == nullptr) entry.share = nmc_queue_share_of(entry.url);
  queue.entries.insert(queue.entries.begin() + position, std::move(entry));
  return position;
}

bool nmc_queue_remove_at(nmc_queue &queue, uint32_t position) {
  if (position >= queue.entries.size()) return false;
  const uint64_t id = queue.entries[position].id;
  nmc_queue_play &play = queue.play;
  if (play.current == id || play.following == id) {
    play.following = position + 1 < queue.entries.size() ? queue.entries[position + 1].id : 0;
    if (play.current == id) play.current = 0;
  }
  queue.entries.erase(queue.entries.begin() + position);
  return true;
}

void nmc_queue_clear_entries(nmc_queue &queue) {
  queue.entries.clear();
  queue.play.current = 0;
  queue.play.following = 0;
}

bool nmc_queue_move(nmc_queue &queue, uint32_t start, uint32_t count, int target) {
  const size_t size = queue.entries.size();
  if (count == 0 || start >= size || count > size - start) return false;
  if (target >= 0 && static_cast<size_t>(target) > size) return false;
  std::vector<nmc_queue_entry> moved(queue.entries.begin() + start, queue.entries.begin() + start + count);
  queue.entries.erase(queue.entries.begin() + start, queue.entries.begin() + start + count);
  size_t to = target < 0 ? queue.entries.size() : static_cast<size_t>(target);
  // A target after the moved block counts in the old positions.
  if (target >= 0 && static_cast<uint32_t>(target) > start) to = to >= count ? to - count : 0;
  if (to > queue.entries.size()) to = queue.entries.size();
  queue.entries.insert(queue.entries.begin() + static_cast<long>(to), moved.begin(), moved.end());
  return true;
}

uint32_t nmc_queue_random_below(uint32_t count) {
  if (count == 0) return 0;
  // One generator for all threads, seeded with the time once; its lock is
  // what makes it safe across the threads that shuffle.
  static std::mutex lock;
  static std::minstd_rand generator(static_cast<unsigned>(std::random_device{}() ^ static_cast<unsigned>(time(nullptr))));
  std::lock_guard<std::mutex> hold(lock);
  return static_cast<uint32_t>(generator() % count);
}

void nmc_queue_shuffle(nmc_queue &queue) {
  std::vector<nmc_queue_entry> remaining;
  remaining.swap(queue.entries);
  const uint32_t count = static_cast<uint32_t>(remaining.size());
  // At each step the entry at a random position among those not yet placed.
  while (!remaining.empty()) {
    uint32_t pick = nmc_queue_random_below(static_cast<uint32_t>(remaining.size()));
    queue.entries.push_back(std::move(remaining[pick]));
    remaining.erase(remaining.begin() + pick);
  }
  if (queue.entries.size() != count) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "lm_nmc_shuffle_queue",
                  "lm_nmc_shuffle_queue: queue corrupted (counter: %u, shuffled: %u)", count,
                  static_cast<unsigned>(queue.entries.size()));
  }
}

lm_nmc_result_t nmc_queue_set_mode(nmc_queue &queue, uint32_t mode) {
  if (mode == NMC_QUEUE_MODE_RANDOM || mode > NMC_QUEUE_MODE_DIRECT_1) return LM_NMC_INVALID_PARAMETER;
  if (queue.play.mode == mode) return LM_NMC_OK;
  queue.play.mode = mode;
  if (mode == NMC_QUEUE_MODE_REPEAT_ONE || mode == NMC_QUEUE_MODE_REPEAT_ALL) queue.play.repeat = true;
  return LM_NMC_OK;
}

bool nmc_queue_mode_of(const char *name, uint32_t *mode) {
  if (name == nullptr) return false;
  for (uint32_t i = 0; i < sizeof k_mode_names / sizeof k_mode_names[0]; ++i) {
    if (strcasecmp(name, k_mode_names[i]) == 0) {
      *mode = i;
      return true;
    }
  }
  return false;
}

const char *nmc_queue_mode_name(uint32_t mode) {
  return mode < sizeof k_mode_names / sizeof k_mode_names[0] ? k_mode_names[mode] : "NONE";
}

bool nmc_queue_finished_mode(const nmc_queue_play &play) {
  return play.mode == NMC_QUEUE_MODE_DIRECT_1 || (play.mode == NMC_QUEUE_MODE_REPEAT_ONE && play.consume);
}
