#ifndef KESTREL_NMC_LM_DMSCP_AHEAD_H
#define KESTREL_NMC_LM_DMSCP_AHEAD_H

/* A page read ahead: the next page of a walk through a level, requested by
 * another thread while the caller still reads the page before it. The level
 * keeps the page's request; when its cursor reaches the page it takes the
 * answer (waiting for it while the request runs) instead of asking the
 * server again. Not exported. */

#include <stdint.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "nmc/lm_nmc.h"

struct nmc_dms_level;
struct nmc_dms_reply;

struct nmc_dms_ahead {
  // Set when made, read-only after.
  std::string command;
  uint32_t first = 0;

  // The reading thread and the level's reader meet here; `lock` guards
  // everything below.
  enum State { kWaiting, kRunning, kDone, kCancelled };
  std::mutex lock;
  std::condition_variable done;
  State state = kWaiting;
  // The command's answer as the interpreter wrote it; the reader parses it
  // (the thread is then free to send the next page's command).
  bool answered = false;
  std::string text;
};

/* `after` of nmc_dms_ahead_begin: whether or not a walk is under way. */
#define NMC_DMS_AHEAD_ANY 0xFFFFFFFFu

/* Marks the page from `index` of the context's current level as read
 * ahead; none when there is nothing to read (not a browse or search level,
 * index past the count, the page cached or already marked), when `after`
 * is not NMC_DMS_AHEAD_ANY and no page from `after` is marked (no walk
 * under way to follow), or when the context cannot be held. A level keeps
 * two marks at most (the oldest is cancelled). The caller hands the page to
 * nmc_dms_ahead_fetch on another thread, or cancels it. */
std::shared_ptr<nmc_dms_ahead> nmc_dms_ahead_begin(uint32_t context, uint32_t index, uint32_t after);
/* Sends the page request (no context is held) unless the page was taken or
 * cancelled before it started. */
void nmc_dms_ahead_fetch(nmc_dms_ahead &ahead);
/* A page not yet started is not read any more. */
void nmc_dms_ahead_cancel(nmc_dms_ahead &ahead);

/* For the level's page cache (context held): when a page read ahead of the
 * level is the one `command` asks for, waits while its request runs and
 * answers true with its answer read; false when the caller must send the
 * request itself (none marked, no answer came, or not started). The mark of that
 * page is dropped either way; other marks stay. */
bool nmc_dms_ahead_take(nmc_dms_level &level, const std::string &command, uint32_t first, nmc_dms_reply *reply,
                        lm_nmc_result_t *result);

#endif
