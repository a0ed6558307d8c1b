#ifndef KESTREL_PLAYLIST_LM_NMC_TRANSFER_POOL_H
#define KESTREL_PLAYLIST_LM_NMC_TRANSFER_POOL_H

/* A capped set of transfer threads (uploads, queue imports and exports):
 * slots up to the cap, the threads on them, a stop request their bodies
 * read between steps, and the controller's stop, which wakes them, joins
 * them with the controller's bound and admits new ones again.
 *
 * The pool's mutex guards the slot count, the thread list and the stopping
 * mark. A thread's argument is handed to the stop's wake only while the
 * thread has not finished, under that mutex; a body that closes what the
 * wake touches does so under the same mutex (lock()). */

#include <atomic>
#include <mutex>
#include <vector>

#include "nmc/lm_nmc_internal.h"

class nmc_transfer_pool {
 public:
  enum reserve_result { RESERVED, FULL, STOPPING };

  /* `finish` (may be none) frees a finished thread's argument, outside
   * the mutex; `wake` (may be none) makes a running body return soon, and
   * is called with the mutex held. */
  nmc_transfer_pool(const char *thread_name, unsigned cap, void (*finish)(void *), void (*wake)(void *));
  nmc_transfer_pool(const nmc_transfer_pool &) = delete;
  nmc_transfer_pool &operator=(const nmc_transfer_pool &) = delete;

  /* Takes a slot: each reservation ends by start() or release(). Threads
   * that have ended are joined first. */
  reserve_result reserve();
  void release();
  /* Runs body(argument) on a new thread on a reserved slot; false (the
   * slot released, the argument still the caller's) when it cannot start
   * or the pool is stopping. */
  bool start(void (*body)(void *), void *argument);

  /* True once the stop asked running bodies to end. */
  bool stopping() const { return stop_request_.load(); }
  /* Wakes the running bodies, joins every thread with the controller's
   * bound (one that outlives it is left behind) and admits new ones
   * again. `what` names them in the log. */
  void stop(const char *what);
  /* Admits new threads again (after a stop that did not run here). */
  void allow();
  /* Threads whose body has not finished. */
  unsigned running();
  std::mutex &lock() { return mutex_; }

 private:
  struct entry;
  static void routine(void *argument);
  void reap_locked(std::vector<entry *> *ended);
  static void join_all(const std::vector<entry *> &entries);

  const char *const thread_name_;
  const unsigned cap_;
  void (*const finish_)(void *);
  void (*const wake_)(void *);
  std::mutex mutex_;
  unsigned slots_ = 0;  // reserved or running
  bool stopping_ = false;
  std::vector<entry *> entries_;
  std::atomic<bool> stop_request_{false};
};

#endif
