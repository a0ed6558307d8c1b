#ifndef KESTREL_NMC_LM_NMC_HANDOFF_QUEUE_H
#define KESTREL_NMC_LM_NMC_HANDOFF_QUEUE_H

/* The queue side of a handoff: a renderer's queue read as plain entries
 * (through the queue commands of the XML interface) and written into
 * another renderer's queue. */

#include <stdint.h>

#include <string>
#include <vector>

#include "nmc/lm_dmrcp_state.h"

struct nmc_handoff_entry {
  std::string bookmark;
  std::string server_udn;
  std::string object_id;
  std::string url;
  std::string metadata;
};

struct nmc_handoff_queue {
  std::vector<nmc_handoff_entry> entries;
  int current = -1;       // the entry playing, -1 for none
  bool active = false;    // the queue plays (not ended or stopped)
  std::string play_mode;  // "NORMAL", "REPEAT_ONE" ... as the queue names it
  bool repeat = false;
  bool consume = false;
};

/* The queue of the renderer (named by its UDN); 0 or the command's code. */
uint32_t nmc_handoff_read_queue(const nmc_dmr_target &renderer, nmc_handoff_queue *queue);
/* The track the renderer plays outside its queue (GetPositionInfo's URI
 * and metadata) as a queue of one entry; 9 when it names none. */
uint32_t nmc_handoff_read_track(const nmc_dmr_target &renderer, nmc_handoff_queue *queue);
/* Replaces the renderer's queue entries with those given; 0 or the code of
 * the first command that failed. */
uint32_t nmc_handoff_write_queue(const nmc_dmr_target &renderer, const std::vector<nmc_handoff_entry> &entries);
/* Plays the renderer's queue from entry `start` with the modes of `like`. */
uint32_t nmc_handoff_play_queue(const nmc_dmr_target &renderer, const nmc_handoff_queue &like, int start);
/* The entry's title from its DIDL-Lite metadata ("" when it has none). */
std::string nmc_handoff_entry_title(const nmc_handoff_entry &entry);

#endif
