#ifndef KESTREL_NMC_LM_DMRCP_H
#define KESTREL_NMC_LM_DMRCP_H

/* The renderer control point: a renderer context (lm_nmc.h) is pointed at
 * one renderer of the renderer list, by list position or by bookmark (the
 * renderer's UDN), and then reads the renderer's description and state and
 * sends it transport and rendering commands. A context keeps following its
 * renderer by UDN: renderers that sort in before it, or its own leaving and
 * coming back, never make it address another renderer.
 *
 * Result codes as in lm_nmc.h; 1 for no such renderer context, 3 when the
 * context points at no listed renderer, 6 when the renderer did not answer,
 * 7 for a value that is no number, 13 for what the renderer cannot do, and
 * the renderer's own errors (701, 710, 711, 714 ...) as they came. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Transport states. */
#define LM_DMR_STOPPED 0u
#define LM_DMR_PLAYING 1u
#define LM_DMR_TRANSITIONING 2u
#define LM_DMR_PAUSED_PLAYBACK 3u
#define LM_DMR_PAUSED_RECORDING 4u
#define LM_DMR_RECORDING 5u
#define LM_DMR_NO_MEDIA_PRESENT 6u

/* Play flags of lm_dmrcp_play. */
#define LM_DMR_PLAY_SHUFFLE 0x001u
#define LM_DMR_PLAY_CONSUME 0x100u
#define LM_DMR_PLAY_REPEAT 0x200u
#define LM_DMR_PLAY_REPEAT_ONE 0x400u

/* Seek capability bits. */
#define LM_DMR_SEEK_TIME 1u
#define LM_DMR_SEEK_BYTES 2u

KESTREL_API lm_nmc_result_t lm_dmrcp_get_count(uint32_t context, uint32_t *count);
KESTREL_API lm_nmc_result_t lm_dmrcp_go_index(uint32_t context, uint32_t position);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_index(uint32_t context, uint32_t *position);
KESTREL_API lm_nmc_result_t lm_dmrcp_go_bookmark(uint32_t context, const char *bookmark);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_bookmark(uint32_t context, uint32_t size, char *buffer);

/* "<rendererInfo>" + the renderer's information + "</rendererInfo>". */
KESTREL_API lm_nmc_result_t lm_dmrcp_get_device_info(uint32_t context, uint32_t size, char *buffer);
/* "<renderer><name>..</name>" + information + current track + "</renderer>". */
KESTREL_API lm_nmc_result_t lm_dmrcp_get_metadata(uint32_t context, uint32_t size, char *buffer);
/* One property: key "Name", "Name@attribute", either with ".Count". */
KESTREL_API lm_nmc_result_t lm_dmrcp_extract_metadata(uint32_t context, const char *key, uint32_t occurrence,
                                                      uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_dmrcp_extract_metadata_int(uint32_t context, const char *key, uint32_t occurrence,
                                                          int32_t *value);
KESTREL_API lm_nmc_result_t lm_dmrcp_extract_metadata_uint64(uint32_t context, const char *key,
                                                             uint32_t occurrence, uint64_t *value);
KESTREL_API lm_nmc_result_t lm_dmrcp_set_metadata(uint32_t context, const char *property, uint32_t occurrence,
                                                  const char *value);

/* Transport state and, for each buffer given, the position and the track's
 * duration as "H:MM:SS". */
KESTREL_API lm_nmc_result_t lm_dmrcp_get_state(uint32_t context, uint32_t *state, uint32_t position_size,
                                               char *position, uint32_t duration_size, char *duration);
KESTREL_API lm_nmc_result_t lm_dmrcp_play(uint32_t context, uint32_t flags);
/* Pauses (resume 0) or resumes; 701 in a state where neither applies. */
KESTREL_API lm_nmc_result_t lm_dmrcp_pause(uint32_t context, int resume);
KESTREL_API lm_nmc_result_t lm_dmrcp_stop(uint32_t context);
KESTREL_API lm_nmc_result_t lm_dmrcp_seek_percent(uint32_t context, uint32_t percent);
/* Bytes, or milliseconds; a negative position is sent as 0. */
KESTREL_API lm_nmc_result_t lm_dmrcp_seek_bytes(uint32_t context, int64_t position);
KESTREL_API lm_nmc_result_t lm_dmrcp_seek_time(uint32_t context, int64_t position);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_seek_capabilities(uint32_t context, uint32_t *bits);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_volume_percent(uint32_t context, uint32_t *percent);
KESTREL_API lm_nmc_result_t lm_dmrcp_set_volume_percent(uint32_t context, uint32_t percent);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_volume_db(uint32_t context, int32_t *db);
KESTREL_API lm_nmc_result_t lm_dmrcp_set_volume_db(uint32_t context, int32_t db);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_volume_db_range(uint32_t context, int32_t *minimum, int32_t *maximum);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_mute(uint32_t context, int *on);
KESTREL_API lm_nmc_result_t lm_dmrcp_set_mute(uint32_t context, int on);
KESTREL_API lm_nmc_result_t lm_dmrcp_get_current_transport_actions(uint32_t context, uint32_t size, char *buffer);

#ifdef __cplusplus
}
#endif

#endif
