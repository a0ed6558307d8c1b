// The shared list of renderer queues behind the queue-list lock: creating,
// finding and releasing queues, new identifiers, and freeing every queue at
// the stop.
#include <atomic>
#include <chrono>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_queue.h"

namespace {

// The queue-list lock guards the list and its open mark; a queue's own
// fields are guarded by the queue's lock.
std::mutex g_list_lock;
bool g_open = false;
std::vector<nmc_queue_ref> g_queues;
std::atomic<uint32_t> g_id_counter{0};

}  // namespace

void nmc_queue_start(void) {
  {
    std::lock_guard<std::mutex> hold(g_list_lock);
    g_open = true;
  }
  nmc_queue_worker_start();
}

void nmc_queue_exit(void) {
  nmc_queue_worker_stop();
  std::vector<nmc_queue_ref> taken;
  {
    std::lock_guard<std::mutex> hold(g_list_lock);
    g_open = false;
    taken.swap(g_queues);
  }
  for (const nmc_queue_ref &queue : taken) {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    queue->released = true;
    queue->play.slideshow_timer = 0;
  }
  nmc_queue_slideshow_join_all();
  Sleep(100);
  for (const nmc_queue_ref &queue : taken) {
    nmc_queue_release_fn release = nullptr;
    void *owner = nullptr;
    {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      nmc_queue_clear_entries(*queue);
      release = queue->release;
      owner = queue->owner;
    }
    if (release != nullptr) release(owner, 2);
  }
}

bool nmc_queue_list_open(void) {
  std::lock_guard<std::mutex> hold(g_list_lock);
  return g_open;
}

lm_nmc_result_t nmc_queue_create(const std::string &id, int renderer) {
  if (id.empty()) return LM_NMC_INVALID_PARAMETER;
  std::lock_guard<std::mutex> hold(g_list_lock);
  if (!g_open) return LM_NMC_GOING_DOWN;
  for (const nmc_queue_ref &queue : g_queues) {
    if (queue->id == id) return NMC_QUEUE_EXISTS;
  }
  nmc_queue_ref queue = std::make_shared<nmc_queue>();
  queue->id = id;
  queue->play.renderer = renderer;
  g_queues.push_back(queue);
  return LM_NMC_OK;
}

nmc_queue_ref nmc_queue_find(const std::string &id) {
  std::lock_guard<std::mutex> hold(g_list_lock);
  for (const nmc_queue_ref &queue : g_queues) {
    if (queue->id == id) return queue;
  }
  return nullptr;
}

nmc_queue_ref nmc_queue_of_renderer(int renderer) {
  if (renderer < 0) return nullptr;
  std::vector<nmc_queue_ref> queues;
  {
    std::lock_guard<std::mutex> hold(g_list_lock);
    queues = g_queues;
  }
  for (const nmc_queue_ref &queue : queues) {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    if (queue->play.renderer == renderer) return queue;
  }
  return nullptr;
}

std::vector<std::string> nmc_queue_ids(void) {
  std::vector<std::string> ids;
  std::lock_guard<std::mutex> hold(g_list_lock);
  for (const nmc_queue_ref &queue : g_queues) ids.push_back(queue->id);
  return ids;
}

bool nmc_queue_release_id(const std::string &id) {
  nmc_queue_ref found;
  {
    std::lock_guard<std::mutex> hold(g_list_lock);
    for (auto it = g_queues.begin(); it != g_queues.end(); ++it) {
      if ((*it)->id == id) {
        found = *it;
        g_queues.erase(it);
        break;
      }
    }
  }
  if (found == nullptr) return false;
  std::lock_guard<std::recursive_mutex> hold(found->lock);
  // A timer of the queue sees the mark and leaves.
  found->released = true;
  found->play.slideshow_timer = 0;
  found->play.playing = false;
  return true;
}

std::string nmc_queue_new_id(void) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return std::to_string(static_cast<unsigned long long>(now.count())) + "-" +
         std::to_string(g_id_counter.fetch_add(1) + 1);
}
