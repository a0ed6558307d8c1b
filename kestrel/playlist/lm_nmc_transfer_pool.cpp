// The capped pool of transfer threads shared by uploads and queue transfers.
#include "playlist/lm_nmc_transfer_pool.h"

#include <new>

#include "base/upnp_log.h"

struct nmc_transfer_pool::entry {
  nmc_transfer_pool *pool = nullptr;
  nmc_thread *thread = nullptr;
  void (*body)(void *) = nullptr;
  void *argument = nullptr;  // none once the body finished
  std::atomic<bool> done{false};
};

nmc_transfer_pool::nmc_transfer_pool(const char *thread_name, unsigned cap, void (*finish)(void *),
                                     void (*wake)(void *))
    : thread_name_(thread_name), cap_(cap), finish_(finish), wake_(wake) {}

void nmc_transfer_pool::routine(void *argument) {
  auto *e = static_cast<entry *>(argument);
  nmc_transfer_pool &pool = *e->pool;
  void *work = e->argument;
  e->body(work);
  {
    // The stop's wake reads the argument under the mutex: it is taken off
    // the entry before it is freed.
    std::lock_guard<std::mutex> hold(pool.mutex_);
    e->argument = nullptr;
    e->done.store(true);
    if (pool.slots_ > 0) --pool.slots_;
  }
  if (pool.finish_) pool.finish_(work);
}

// Takes the entries whose threads have ended out of the list (their join is
// immediate). Call with the mutex held.
void nmc_transfer_pool::reap_locked(std::vector<entry *> *ended) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((*it)->done.load() && nmc_thread_ended((*it)->thread)) {
      ended->push_back(*it);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

void nmc_transfer_pool::join_all(const std::vector<entry *> &entries) {
  for (entry *e : entries) {
    // A thread that outlives the bound is left behind with its entry.
    if (nmc_thread_join_bounded(e->thread, NMC_THREAD_JOIN_BOUND_MS)) delete e;
  }
}

nmc_transfer_pool::reserve_result nmc_transfer_pool::reserve() {
  std::vector<entry *> ended;
  reserve_result result = RESERVED;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    reap_locked(&ended);
    if (stopping_) {
      result = STOPPING;
    } else if (slots_ >= cap_) {
      result = FULL;
    } else {
      ++slots_;
    }
  }
  join_all(ended);
  return result;
}

void nmc_transfer_pool::release() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (slots_ > 0) --slots_;
}

bool nmc_transfer_pool::start(void (*body)(void *), void *argument) {
  auto *e = new (std::nothrow) entry;
  if (e == nullptr) {
    release();
    return false;
  }
  e->pool = this;
  e->body = body;
  e->argument = argument;
  std::lock_guard<std::mutex> hold(mutex_);
  if (!stopping_) e->thread = nmc_thread_start(routine, e, thread_name_);
  if (e->thread == nullptr) {
    if (slots_ > 0) --slots_;
    delete e;
    return false;
  }
  // Listed under the mutex that the thread's end takes: the stop sees it.
  entries_.push_back(e);
  return true;
}

void nmc_transfer_pool::stop(const char *what) {
  std::vector<entry *> entries;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    stop_request_.store(true);
    if (wake_) {
      for (entry *e : entries_)
        if (e->argument != nullptr) wake_(e->argument);
    }
    entries.swap(entries_);
  }
  if (!entries.empty())
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_transfer_pool", "NMC: Ending %zu %s", entries.size(), what);
  join_all(entries);
  allow();
}

void nmc_transfer_pool::allow() {
  std::lock_guard<std::mutex> hold(mutex_);
  stopping_ = false;
  stop_request_.store(false);
}

unsigned nmc_transfer_pool::running() {
  std::lock_guard<std::mutex> hold(mutex_);
  unsigned n = 0;
  for (entry *e : entries_)
    if (!e->done.load()) ++n;
  return n;
}
