#ifndef KESTREL_NMC_LM_LDMR_OPS_H
#define KESTREL_NMC_LM_LDMR_OPS_H

/* The operations the renderer side routes to a local renderer (device index
 * 4096 or 4097). Each calls its hook, outside every controller lock, when
 * the renderer is enabled and the hook is set, else answers 13. */

#include <stdint.h>

#include <string>

#include "nmc/lm_ldmr.h"

bool nmc_ldmr_is_local(int index);

struct nmc_ldmr_state {
  uint32_t state = 6;
  uint64_t position_ms = 0;
  uint64_t duration_ms = 0;
  uint64_t byte_position = 0;
  uint64_t byte_size = 0;
};
lm_nmc_result_t nmc_ldmr_get_state(int index, nmc_ldmr_state *state);
lm_nmc_result_t nmc_ldmr_play(int index);
lm_nmc_result_t nmc_ldmr_pause(int index, int resume);
lm_nmc_result_t nmc_ldmr_stop(int index);
lm_nmc_result_t nmc_ldmr_skip(int index, bool forward);
lm_nmc_result_t nmc_ldmr_seek_time(int index, uint64_t ms);
lm_nmc_result_t nmc_ldmr_seek_bytes(int index, uint64_t bytes);
/* Percent seek (capped at 100): kind 1 bytes or 2 time, the target, and the
 * duration (time) or size (bytes) it was taken from. */
lm_nmc_result_t nmc_ldmr_seek_percent(int index, uint32_t percent, unsigned *kind, uint64_t *target,
                                      uint64_t *maximum);
/* Bits 1 time seek, 2 byte seek. */
lm_nmc_result_t nmc_ldmr_seek_capabilities(int index, uint32_t *bits);
lm_nmc_result_t nmc_ldmr_get_volume(int index, uint32_t *percent);
lm_nmc_result_t nmc_ldmr_set_volume(int index, uint32_t percent);
lm_nmc_result_t nmc_ldmr_get_volume_db(int index, int32_t *db);
lm_nmc_result_t nmc_ldmr_set_volume_db(int index, int32_t db);
lm_nmc_result_t nmc_ldmr_get_volume_db_range(int index, int32_t *minimum, int32_t *maximum);
lm_nmc_result_t nmc_ldmr_get_mute(int index, int *on);
lm_nmc_result_t nmc_ldmr_set_mute(int index, int on);
/* A property by name; "DmrPropBytePosition" falls back to the state's byte
 * position. */
lm_nmc_result_t nmc_ldmr_get_property(int index, const char *name, std::string *value);
lm_nmc_result_t nmc_ldmr_set_property(int index, const char *name, const char *value);
lm_nmc_result_t nmc_ldmr_get_play_info(int index, bool next, std::string *uri, std::string *metadata);
lm_nmc_result_t nmc_ldmr_set_play_info(int index, bool next, const char *uri, const char *metadata);
lm_nmc_result_t nmc_ldmr_get_protocol_info(int index, std::string *text);
/* The renderer's description for its metadata: the host's text (at most
 * 8192 bytes) with isLocalDevice, isInternalDevice and friendlyName added
 * when missing; empty without a description. */
lm_nmc_result_t nmc_ldmr_get_device_info(int index, std::string *text);
lm_nmc_result_t nmc_ldmr_ioctl(int index, const char *command, uint32_t size, char *out);
lm_nmc_result_t nmc_ldmr_icon_count(int index, uint32_t *count);
lm_nmc_result_t nmc_ldmr_icon_info(int index, uint32_t icon, std::string *text);
/* Reads the icon in chunks on the "NMC Icon Loader" thread: chunk(user,
 * data, length) per piece, then once with no data (length 0, the result
 * code in `result`). 0 when the loader started. */
typedef void (*nmc_ldmr_icon_chunk)(void *user, const char *data, uint32_t length, lm_nmc_result_t result);
lm_nmc_result_t nmc_ldmr_load_icon(int index, uint32_t icon, nmc_ldmr_icon_chunk chunk, void *user);
/* The renderer's name (the default one when none is set). */
std::string nmc_ldmr_name(int index);
/* The controller's stop: the shutdown hook of an enabled renderer is called,
 * the enabled flag and the name are cleared. */
void nmc_ldmr_shutdown(void);

#endif
