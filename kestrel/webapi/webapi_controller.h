#ifndef KESTREL_WEBAPI_WEBAPI_CONTROLLER_H
#define KESTREL_WEBAPI_WEBAPI_CONTROLLER_H

/* The controller calls the web API makes, gathered in one table so that the
 * dispatcher can be driven without a controller (tests, fuzzing). The
 * default table calls the controller itself. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

struct webapi_controller {
  lm_nmc_result_t (*dmrcp_create_context)(uint32_t *context);
  lm_nmc_result_t (*dmrcp_delete_context)(uint32_t context);
  lm_nmc_result_t (*dmrcp_go_bookmark)(uint32_t context, const char *bookmark);
  lm_nmc_result_t (*dmrcp_go_index)(uint32_t context, uint32_t index);
  lm_nmc_result_t (*dmrcp_ioctl)(uint32_t context, const char *command, uint32_t size, char *out);
  lm_nmc_result_t (*dmrcp_get_mute)(uint32_t context, int *on);
  lm_nmc_result_t (*dmrcp_set_mute)(uint32_t context, int on);
  lm_nmc_result_t (*dmrcp_pause)(uint32_t context, int resume);
  lm_nmc_result_t (*dmrcp_play)(uint32_t context, uint32_t flags);
  lm_nmc_result_t (*dmrcp_stop)(uint32_t context);
  lm_nmc_result_t (*dmrcp_get_seek_capabilities)(uint32_t context, uint32_t *bits);
  lm_nmc_result_t (*dmrcp_seek_percent)(uint32_t context, uint32_t percent);
  lm_nmc_result_t (*dmrcp_seek_bytes)(uint32_t context, int64_t position);
  lm_nmc_result_t (*dmrcp_seek_time)(uint32_t context, int64_t position);
  lm_nmc_result_t (*dmrcp_get_state)(uint32_t context, uint32_t *state, uint32_t position_size, char *position,
                                     uint32_t duration_size, char *duration);
  lm_nmc_result_t (*dmrcp_get_volume_percent)(uint32_t context, uint32_t *percent);
  lm_nmc_result_t (*dmrcp_set_volume_percent)(uint32_t context, uint32_t percent);
  lm_nmc_result_t (*dmrcp_get_volume_db)(uint32_t context, int32_t *db);
  lm_nmc_result_t (*dmrcp_set_volume_db)(uint32_t context, int32_t db);
  lm_nmc_result_t (*dmrcp_get_volume_db_range)(uint32_t context, int32_t *minimum, int32_t *maximum);
  lm_nmc_result_t (*nmc_ioctl)(uint32_t context, const char *command, uint32_t size, char *out);
  /* Queue of the renderer the context points at. */
  lm_nmc_result_t (*queue_get_playindex)(uint32_t context, int32_t *index, uint32_t *pending);
  lm_nmc_result_t (*queue_go_index)(uint32_t context, uint32_t index);
  lm_nmc_result_t (*queue_add_bookmark)(uint32_t context, const char *bookmark);
  lm_nmc_result_t (*queue_add_metadata)(uint32_t context, const char *url, const char *metadata);
  lm_nmc_result_t (*queue_delete_item)(uint32_t context);
  lm_nmc_result_t (*queue_move_to)(uint32_t context, uint32_t target);
  lm_nmc_result_t (*queue_clear)(uint32_t context);
  /* Server side (search). */
  lm_nmc_result_t (*dmscp_create_context)(uint32_t *context);
  lm_nmc_result_t (*dmscp_delete_context)(uint32_t context);
  lm_nmc_result_t (*dmscp_go_bookmark)(uint32_t context, const char *bookmark);
  lm_nmc_result_t (*dmscp_search)(uint32_t context, const char *query);
  lm_nmc_result_t (*dmscp_get_count)(uint32_t context, uint32_t *count);
  lm_nmc_result_t (*dmscp_go_index)(uint32_t context, uint32_t index);
  lm_nmc_result_t (*dmscp_get_metadata)(uint32_t context, uint32_t size, char *buffer);
  lm_nmc_result_t (*dmscp_extract_metadata)(uint32_t context, const char *key, uint32_t occurrence, uint32_t size,
                                            char *buffer);
  lm_nmc_result_t (*dmscp_get_bookmark)(uint32_t context, uint32_t size, char *buffer);
  int (*is_terminating)(void);
};

/* The table in use (never none). */
const webapi_controller *webapi_controller_get(void);
/* Replaces the table (none restores the controller's own); for tests. */
void webapi_controller_set(const webapi_controller *table);
/* The controller's own table. */
const webapi_controller *webapi_controller_default(void);

#endif
