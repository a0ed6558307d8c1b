#ifndef KESTREL_NMC_LM_NMC_START_INTERNAL_H
#define KESTREL_NMC_LM_NMC_START_INTERNAL_H

/* The marks shared by the start-up and the stop. */

#include <atomic>
#include <mutex>

#include "nmc/lm_nmc_internal.h"

struct NmcStartMarks {
  // Serialises start-ups and the stop request against each other: a start
  // is a sequence of states that no second start or stop may interleave
  // with. Recursive so that a state callback calling back in on the
  // starting thread gets an answer instead of a deadlock.
  std::recursive_mutex start_mutex;
  // Set by step 1 of the start-up, cleared when the controller's sides are
  // released at exit ("already started": a second start does nothing).
  std::atomic<bool> started{false};
  // Set once the control point runs, cleared by the terminator after it
  // stopped it.
  std::atomic<bool> cp_started{false};
  // A stop requested while a start-up held the start lock.
  std::atomic<bool> stop_pending{false};
};
extern NmcStartMarks g_nmc_marks;

/* How long the stop registered for process exit waits (ms). */
#define NMC_EXIT_STOP_BOUND_MS 5000u

#endif
