#ifndef KESTREL_NMC_LM_LDMR_H
#define KESTREL_NMC_LM_LDMR_H

/* The local renderers: the host application registers its own player as a
 * renderer that the controller lists and drives like a network renderer.
 * Two of them: audio/video (device index 4096, lm_ldmr_) and image (4097,
 * lm_ldmr_img_). Every hook returns a result code of lm_nmc.h; a missing
 * hook makes its operation answer 13. Hooks are called on the caller's
 * thread with no controller lock held, so a hook may call the controller
 * (the event functions among others).
 *
 * Times are milliseconds, positions and sizes bytes; 0 means unknown. Text
 * outputs follow the controller's rule (size, buffer; 10 when too small). */

#include <stdint.h>

#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LM_LDMR_INDEX 4096
#define LM_LDMR_IMG_INDEX 4097

typedef lm_nmc_result_t (*lm_ldmr_text_hook)(uint32_t size, char *out);
typedef lm_nmc_result_t (*lm_ldmr_state_hook)(uint32_t *state, uint64_t *position_ms, uint64_t *duration_ms,
                                              uint64_t *byte_position, uint64_t *byte_size);
typedef lm_nmc_result_t (*lm_ldmr_count_hook)(uint32_t *count);
typedef lm_nmc_result_t (*lm_ldmr_icon_info_hook)(uint32_t icon, uint32_t size, char *out);
/* Up to size bytes of the icon from offset; *got receives how many (0 at
 * the end). */
typedef lm_nmc_result_t (*lm_ldmr_icon_hook)(uint32_t icon, uint64_t offset, uint32_t size, char *out,
                                             uint32_t *got);
typedef lm_nmc_result_t (*lm_ldmr_get_uint_hook)(uint32_t *value);
typedef lm_nmc_result_t (*lm_ldmr_get_int_hook)(int32_t *value);
typedef lm_nmc_result_t (*lm_ldmr_set_uint_hook)(uint32_t value);
typedef lm_nmc_result_t (*lm_ldmr_set_int_hook)(int32_t value);
typedef lm_nmc_result_t (*lm_ldmr_range_hook)(int32_t *minimum, int32_t *maximum);
typedef lm_nmc_result_t (*lm_ldmr_set_play_info_hook)(const char *uri, const char *metadata);
typedef lm_nmc_result_t (*lm_ldmr_get_play_info_hook)(uint32_t uri_size, char *uri, uint32_t metadata_size,
                                                      char *metadata);
typedef lm_nmc_result_t (*lm_ldmr_set_property_hook)(const char *name, const char *value);
typedef lm_nmc_result_t (*lm_ldmr_get_property_hook)(const char *name, uint32_t size, char *out);
typedef lm_nmc_result_t (*lm_ldmr_action_hook)(void);
typedef lm_nmc_result_t (*lm_ldmr_pause_hook)(int resume);
typedef lm_nmc_result_t (*lm_ldmr_seek_hook)(uint64_t position);
typedef lm_nmc_result_t (*lm_ldmr_ioctl_hook)(const char *command, uint32_t size, char *out);
/* fn(service, flags, variable, text): every event of the audio/video
 * renderer, XML-escaped (service 1 AVTransport, 2 RenderingControl). */
typedef void (*lm_ldmr_event_listener)(uint32_t service, uint32_t flags, uint32_t variable, const char *text);

/* ---- Audio/video renderer (28 hooks in slot order). ---- */
KESTREL_API lm_nmc_result_t lm_ldmr_set_hooks(
    lm_ldmr_text_hook get_protocol_info, lm_ldmr_text_hook get_device_info, lm_ldmr_state_hook get_state,
    lm_ldmr_count_hook get_icon_count, lm_ldmr_icon_info_hook get_icon_info, lm_ldmr_icon_hook get_icon,
    lm_ldmr_get_uint_hook get_volume_percent, lm_ldmr_get_int_hook get_volume_db,
    lm_ldmr_set_uint_hook set_volume_percent, lm_ldmr_set_int_hook set_volume_db,
    lm_ldmr_range_hook get_volume_db_range, lm_ldmr_get_int_hook get_mute, lm_ldmr_set_int_hook set_mute,
    lm_ldmr_set_play_info_hook set_play_info, lm_ldmr_get_play_info_hook get_play_info,
    lm_ldmr_set_play_info_hook set_next_play_info, lm_ldmr_get_play_info_hook get_next_play_info,
    lm_ldmr_set_property_hook set_property, lm_ldmr_get_property_hook get_property, lm_ldmr_action_hook play,
    lm_ldmr_pause_hook pause, lm_ldmr_action_hook stop, lm_ldmr_action_hook next, lm_ldmr_action_hook previous,
    lm_ldmr_seek_hook seek_bytes, lm_ldmr_seek_hook seek_time, lm_ldmr_action_hook shutdown,
    lm_ldmr_ioctl_hook ioctl);
KESTREL_API lm_nmc_result_t lm_ldmr_clear_hooks(void);
/* Enabling needs a hook (13) and a running controller (11); it lists the
 * renderer. Disabling removes it. */
KESTREL_API lm_nmc_result_t lm_ldmr_enable(int on);
KESTREL_API int lm_ldmr_is_enabled(void);
/* At most 16 characters are kept (cut on a character boundary); none or
 * empty: the default name "Local Renderer". */
KESTREL_API lm_nmc_result_t lm_ldmr_set_name(const char *name);
/* A copy the caller frees with upnp_free_impl; none without memory. */
KESTREL_API char *lm_ldmr_get_name(void);
KESTREL_API lm_nmc_result_t lm_ldmr_register_event_listener(lm_ldmr_event_listener listener);

/* ---- Image renderer (19 hooks in slot order). ---- */
KESTREL_API lm_nmc_result_t lm_ldmr_img_set_hooks(
    lm_ldmr_text_hook get_protocol_info, lm_ldmr_text_hook get_device_info, lm_ldmr_state_hook get_state,
    lm_ldmr_count_hook get_icon_count, lm_ldmr_icon_info_hook get_icon_info, lm_ldmr_icon_hook get_icon,
    lm_ldmr_set_play_info_hook set_play_info, lm_ldmr_get_play_info_hook get_play_info,
    lm_ldmr_set_play_info_hook set_next_play_info, lm_ldmr_get_play_info_hook get_next_play_info,
    lm_ldmr_set_property_hook set_property, lm_ldmr_get_property_hook get_property, lm_ldmr_action_hook play,
    lm_ldmr_pause_hook pause, lm_ldmr_action_hook stop, lm_ldmr_action_hook next, lm_ldmr_action_hook previous,
    lm_ldmr_action_hook shutdown, lm_ldmr_ioctl_hook ioctl);
KESTREL_API lm_nmc_result_t lm_ldmr_img_clear_hooks(void);
KESTREL_API lm_nmc_result_t lm_ldmr_img_enable(int on);
KESTREL_API int lm_ldmr_img_is_enabled(void);
KESTREL_API lm_nmc_result_t lm_ldmr_img_set_name(const char *name);
KESTREL_API char *lm_ldmr_img_get_name(void);

/* ---- Events from the host; the first argument is always the renderer's
 * current transport state (0 STOPPED ... 6 NO_MEDIA_PRESENT). ---- */
KESTREL_API void lm_ldmr_event_state(uint32_t state);
KESTREL_API void lm_ldmr_event_status(uint32_t state, const char *status);
KESTREL_API void lm_ldmr_event_duration(uint32_t state, uint64_t seconds);
KESTREL_API void lm_ldmr_event_volume(uint32_t state, uint32_t percent, int32_t db);
KESTREL_API void lm_ldmr_event_mute(uint32_t state, int on);
KESTREL_API void lm_ldmr_event_loudness(uint32_t state, int on);
KESTREL_API void lm_ldmr_event_brightness(uint32_t state, uint32_t value);
KESTREL_API void lm_ldmr_event_contrast(uint32_t state, uint32_t value);
KESTREL_API void lm_ldmr_event_available_actions(uint32_t state, const char *actions);
/* Bits: 1 Play, 2 Stop, 4 Pause, 8 Seek, 16 Next, 32 Previous. */
KESTREL_API void lm_ldmr_event_available_actions_bitfield(uint32_t state, uint32_t bits);
KESTREL_API void lm_ldmr_event_playinfo(uint32_t state, const char *uri, const char *metadata);
KESTREL_API void lm_ldmr_event_next_playinfo(uint32_t state, const char *uri, const char *metadata);
/* A ready update text (the inside of "RendererUpdated"). */
KESTREL_API void lm_ldmr_updated(uint32_t state, const char *text);
KESTREL_API void lm_ldmr_img_event_state(uint32_t state);
KESTREL_API void lm_ldmr_img_event_status(uint32_t state, const char *status);
KESTREL_API void lm_ldmr_img_event_available_actions(uint32_t state, const char *actions);
KESTREL_API void lm_ldmr_img_event_playinfo(uint32_t state, const char *uri, const char *metadata);
KESTREL_API void lm_ldmr_img_event_next_playinfo(uint32_t state, const char *uri, const char *metadata);

#ifdef __cplusplus
}
#endif

#endif
