/* A fake host player for the local renderers: it answers every hook from a
 * simulated clock (advanced by the caller, or following the real clock) and
 * reports its changes through the lm_ldmr_event_ functions, as a host
 * application's player would. Plain C, so that it is used the way a host
 * uses the library. */
#ifndef TESTS_NMC_FAKE_PLAYER_H
#define TESTS_NMC_FAKE_PLAYER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_PLAYER_ALL_HOOKS 0x0FFFFFFFu

/* Installs the audio/video hooks of the slots whose bit is set in mask
 * (bit n: slot n) and resets the player: STOPPED, no track, volume 40,
 * not muted, duration 200 s, size 2,000,000 bytes. */
void fake_player_install(uint32_t mask);
/* The same for the image renderer's 19 slots. */
void fake_player_install_image(uint32_t mask);
/* Moves the simulated clock on; a playing track that reaches its end
 * stops (and says so). */
void fake_player_advance(uint64_t ms);
/* Follow the real clock instead (for the demo tool). */
void fake_player_use_real_clock(int on);

/* How often the hook of a slot was called (audio/video numbering; the
 * image renderer's hooks count under the same operation's slot). */
uint32_t fake_player_calls(int slot);
void fake_player_clear_calls(void);
/* The answer of the seek hooks: 0 to seek, else that code. Forgets the
 * last seek. */
void fake_player_refuse_seeks(uint32_t time_code, uint32_t byte_code);
/* The track's duration and size (0: unknown). */
void fake_player_set_track(uint64_t duration_ms, uint64_t size);
/* The last seek: kind 1 bytes or 2 time, and its target. */
void fake_player_last_seek(uint32_t *kind, uint64_t *target);
uint32_t fake_player_state(void);
uint64_t fake_player_position_ms(void);
uint32_t fake_player_volume(void);
int fake_player_mute(void);
/* Whether the shutdown hook ran. */
int fake_player_shut_down(void);
/* A renderer context the play hook calls back into the controller with
 * (lm_dmrcp_get_count, lm_ldmr_get_name, an event), 0 for none: a hook
 * that runs under a controller lock would deadlock there. */
void fake_player_call_back(uint32_t context);
/* Set when the call-back completed. */
int fake_player_called_back(void);

#ifdef __cplusplus
}
#endif

#endif
