#ifndef KESTREL_NMC_LM_DMSCP_ENTRY_H
#define KESTREL_NMC_LM_DMSCP_ENTRY_H

/* One entry of a server context's level read in one pass: what a feed asks
 * of every object of a page (go to the index, metadata text, title,
 * bookmark, directory flag) under one hold of the context instead of five.
 * Not exported. */

#include <stdint.h>

#include <string>

#include "base/upnp_string.h"
#include "nmc/lm_nmc.h"

struct nmc_dms_entry {
  /* The metadata text; the caller owns the string and keeps it from entry
   * to entry (it is emptied, not made anew). None until the first read. */
  upnp_string *metadata = nullptr;
  std::string title;
  std::string bookmark;
  bool directory = false;
};

/* The largest texts the caller takes, zero included, as the buffer sizes of
 * lm_dmscp_get_metadata, lm_dmscp_extract_metadata and lm_dmscp_get_bookmark:
 * a longer text fails the read with LM_NMC_BUFFER_TOO_SMALL as those do. */
struct nmc_dms_entry_sizes {
  uint32_t metadata;
  uint32_t title;
  uint32_t bookmark;
};

/* Moves the cursor to `index` and reads the entry there: the result of the
 * first of lm_dmscp_go_index, lm_dmscp_get_metadata,
 * lm_dmscp_extract_metadata(title_key), lm_dmscp_get_bookmark and
 * lm_dmscp_is_directory that fails, else LM_NMC_OK with every field set. */
lm_nmc_result_t nmc_dms_read_entry(uint32_t context, uint32_t index, const char *title_key,
                                   const nmc_dms_entry_sizes &sizes, nmc_dms_entry *entry);

#endif
