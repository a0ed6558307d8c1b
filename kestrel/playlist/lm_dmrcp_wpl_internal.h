#ifndef KESTREL_PLAYLIST_LM_DMRCP_WPL_INTERNAL_H
#define KESTREL_PLAYLIST_LM_DMRCP_WPL_INTERNAL_H

/* What the queue import and export modules share: the transfer record, the
 * two thread bodies and the registry of running transfers. Not exported. */

#include <stdint.h>

#include <string>

#include "playlist/lm_dmrcp_wpl.h"

/* Owned by the transfer thread and freed when it ends. */
struct wpl_transfer {
  uint32_t context = 0;
  void *user_data = nullptr;
  uint32_t format = LM_DMRCP_WPL_FORMAT;
  int renderer = -1;  // -1 for an import
  uint32_t chunk_size = LM_DMRCP_WPL_DEFAULT_CHUNK;
  std::string queue_id;    // an export's queue
  std::string queue_text;  // "<QueueID>id</QueueID>"
  lm_dmrcp_export_callback export_callback = nullptr;
  lm_dmrcp_import_callback import_callback = nullptr;
};

/* A record with the caller's values (chunk size 0: the default); none
 * without memory. */
wpl_transfer *createPlaylistInfo(uint32_t context, void *user_data, uint32_t format, int renderer,
                                 uint32_t chunk_size, const std::string &queue_id);

/* The thread bodies: each makes its final or end call. */
void importWpl(wpl_transfer *transfer);
void exportWpl(wpl_transfer *transfer);

/* ---- Running transfers (lm_dmrcp_wpl_threads.cpp). ---- */
/* Starts body(transfer) on an "NMC WPL Handler" thread, which frees the
 * record when it ends. 0, 22 when LM_DMRCP_WPL_MAX_ACTIVE run, 11 while the
 * controller stops, 8 when the thread cannot start; on any failure the
 * record stays the caller's. */
lm_nmc_result_t wpl_transfer_start(wpl_transfer *transfer, void (*body)(wpl_transfer *));
/* True once the controller asked running transfers to end. */
bool wpl_transfer_stopping(void);
/* The stop: running transfers end at their next step (their final or end
 * call made) and are joined with the controller's bound. New ones are
 * refused while it runs. */
void nmc_wpl_transfers_stop(void);
/* How many transfer threads run (tests). */
unsigned nmc_wpl_transfers_running(void);

#endif
