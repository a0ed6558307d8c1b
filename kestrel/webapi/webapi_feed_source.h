#ifndef KESTREL_WEBAPI_WEBAPI_FEED_SOURCE_H
#define KESTREL_WEBAPI_WEBAPI_FEED_SOURCE_H

/* The controller calls the feeds make ("/nmc/rss"), gathered in one table so
 * that the feed handler can be driven without a controller (tests, fuzzing,
 * the page's browser test uses the real one). */

#include <stdint.h>

#include <memory>

#include "nmc/lm_dmscp_ahead.h"
#include "nmc/lm_dmscp_entry.h"
#include "nmc/lm_nmc.h"

struct webapi_feed_source {
  /* Servers and their objects. */
  lm_nmc_result_t (*dmscp_create_context)(uint32_t *context);
  lm_nmc_result_t (*dmscp_delete_context)(uint32_t context);
  lm_nmc_result_t (*dmscp_go_home)(uint32_t context);
  lm_nmc_result_t (*dmscp_go_bookmark)(uint32_t context, const char *bookmark);
  lm_nmc_result_t (*dmscp_go_directory)(uint32_t context);
  lm_nmc_result_t (*dmscp_get_count)(uint32_t context, uint32_t *count);
  lm_nmc_result_t (*dmscp_go_index)(uint32_t context, uint32_t index);
  lm_nmc_result_t (*dmscp_get_metadata)(uint32_t context, uint32_t size, char *buffer);
  lm_nmc_result_t (*dmscp_extract_metadata)(uint32_t context, const char *key, uint32_t occurrence, uint32_t size,
                                            char *buffer);
  lm_nmc_result_t (*dmscp_get_bookmark)(uint32_t context, uint32_t size, char *buffer);
  lm_nmc_result_t (*dmscp_is_directory)(uint32_t context, uint32_t *flag);
  /* Renderers. */
  lm_nmc_result_t (*dmrcp_create_context)(uint32_t *context);
  lm_nmc_result_t (*dmrcp_delete_context)(uint32_t context);
  lm_nmc_result_t (*dmrcp_get_count)(uint32_t context, uint32_t *count);
  lm_nmc_result_t (*dmrcp_go_index)(uint32_t context, uint32_t index);
  lm_nmc_result_t (*dmrcp_go_bookmark)(uint32_t context, const char *bookmark);
  lm_nmc_result_t (*dmrcp_get_bookmark)(uint32_t context, uint32_t size, char *buffer);
  lm_nmc_result_t (*dmrcp_get_metadata)(uint32_t context, uint32_t size, char *buffer);
  lm_nmc_result_t (*dmrcp_extract_metadata)(uint32_t context, const char *key, uint32_t occurrence, uint32_t size,
                                            char *buffer);
  /* The queue of the renderer a renderer context points at. */
  lm_nmc_result_t (*queue_get_count)(uint32_t context, uint32_t *count);
  lm_nmc_result_t (*queue_go_index)(uint32_t context, uint32_t index);
  lm_nmc_result_t (*queue_go_bookmark)(uint32_t context, const char *bookmark);
  lm_nmc_result_t (*queue_get_bookmark)(uint32_t context, uint32_t size, char *buffer);
  /* Reads the entry's metadata from its server when the queue has none yet. */
  lm_nmc_result_t (*queue_load_metadata)(uint32_t context);
  lm_nmc_result_t (*queue_get_metadata)(uint32_t context, uint32_t size, char *buffer);
  lm_nmc_result_t (*queue_extract_metadata)(uint32_t context, const char *key, uint32_t occurrence, uint32_t size,
                                            char *buffer);
  int (*is_terminating)(void);
  /* Server context settings ("SetDMSItemCache N": objects per Browse). */
  lm_nmc_result_t (*dmscp_ioctl)(uint32_t context, const char *command, uint32_t size, char *out);
  /* A server object's entry in one pass (go index, metadata, title,
   * bookmark, directory flag); none: those five calls one by one. */
  lm_nmc_result_t (*dmscp_read_entry)(uint32_t context, uint32_t index, const char *title_key,
                                      const nmc_dms_entry_sizes &sizes, nmc_dms_entry *entry);
  /* Marks the page from `index` of the context's level to be read ahead
   * (see lm_dmscp_ahead.h); none: feeds do not read ahead. */
  std::shared_ptr<nmc_dms_ahead> (*dmscp_ahead_begin)(uint32_t context, uint32_t index, uint32_t after);
};

/* The table in use (never none). */
const webapi_feed_source *webapi_feed_source_get(void);
/* Replaces the table (none restores the controller's own); for tests. */
void webapi_feed_source_set(const webapi_feed_source *table);

#endif
