#ifndef KESTREL_NMC_LM_DMRCP_STATE_H
#define KESTREL_NMC_LM_DMRCP_STATE_H

/* The renderer side of the controller: what a renderer context holds, how a
 * context finds its renderer, and how the renderer functions run their XML
 * commands and read the answers. */

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "base/upnp_xml.h"
#include "nmc/lm_nmc.h"

/* Transport states and the seek capability bits. */
#define NMC_DMR_STOPPED 0u
#define NMC_DMR_PLAYING 1u
#define NMC_DMR_TRANSITIONING 2u
#define NMC_DMR_PAUSED_PLAYBACK 3u
#define NMC_DMR_PAUSED_RECORDING 4u
#define NMC_DMR_RECORDING 5u
#define NMC_DMR_NO_MEDIA_PRESENT 6u
#define NMC_DMR_SEEK_TIME 1u
#define NMC_DMR_SEEK_BYTES 2u

/* Result codes of the renderer side beyond lm_nmc.h. */
#define NMC_DMR_DEVICE_GONE 3u
#define NMC_DMR_NO_RESPONSE 6u
#define NMC_DMR_BAD_VALUE 7u
#define NMC_DMR_NOT_IMPLEMENTED 13u
#define NMC_DMR_BROKEN_ACTION 21u
#define NMC_DMR_TRANSITION_NOT_AVAILABLE 701u
#define NMC_DMR_ILLEGAL_SEEK 710u
#define NMC_DMR_CANNOT_PLAY 714u

struct nmc_dmr_context {
  // The renderer the context follows, by UDN (empty: none). A context keeps
  // following its renderer while others sort in before it or it leaves and
  // comes back; the list position is read from the UDN at every lookup.
  std::string udn;
  // The renderer's list position at the last lookup; NMC_REMOVED_DEVICE_INDEX
  // while the renderer is under removal, with the position it had saved.
  uint32_t position = 0;
  uint32_t saved_position = 0;
  // Current index into the renderer's queue.
  uint32_t queue_cursor = 0;
  // Renderer metadata read for the renderer the context points at (empty
  // when dropped), and whether the queue cache is valid.
  std::string metadata;
  bool queue_cache = false;
  uint16_t slideshow_delay = 3;
  uint16_t slideshow_wait = 20;
};

/* Names of transport states ("STOPPED" ... "NO_MEDIA_PRESENT"), none above
 * 6, and play modes ("NORMAL" ... "INTRO", "NOT_IMPLEMENTED" above 6). */
const char *nmc_dmr_state_name(uint32_t state);
const char *nmc_dmr_play_mode_name(uint32_t mode);
/* The state number of a name, ignoring case; 7 for an unknown name. */
uint32_t nmc_dmr_state_of(const char *name);

/* Global slideshow defaults (lm_dmrcp_ioctl.cpp), copied into a context's
 * renderer state when it is made. */
uint16_t nmc_dmr_default_slideshow_delay(void);
uint16_t nmc_dmr_default_slideshow_wait(void);

/* The context's renderer state, made when missing; call only with the
 * context locked (nmc_context_find). */
nmc_dmr_context *nmc_dmr_state_of_context(struct nmc_context *context);

/* What a renderer function needs of the renderer its context points at. */
struct nmc_dmr_target {
  int index = -1;
  uint32_t position = 0;
  std::string udn;
  std::string name;
};
/* Finds the context's renderer: 11 when the controller cannot run, 1 for
 * no such renderer context, 3 when it points at no listed renderer. */
lm_nmc_result_t nmc_dmr_find(uint32_t context, nmc_dmr_target *target);

/* A command's parsed response. */
class nmc_dmr_reply {
 public:
  nmc_dmr_reply() = default;
  nmc_dmr_reply(const nmc_dmr_reply &) = delete;
  nmc_dmr_reply &operator=(const nmc_dmr_reply &) = delete;
  ~nmc_dmr_reply();
  // The result code: 6 when the interpreter gave no answer.
  uint32_t code = NMC_DMR_NO_RESPONSE;
  // The text of a result element of the response, or none.
  const char *value(const char *name) const;
  upnp_xml_node *tree = nullptr;
};
/* Runs one command text (nmc_command_text) through the interpreter. */
void nmc_dmr_run(const std::string &command, nmc_dmr_reply *reply);
/* Runs command `name` for the renderer at index with the given parameters
 * (after "RendererIndex"); the reply's code. */
uint32_t nmc_dmr_command(const char *name, int index, const std::vector<std::pair<std::string, std::string>> &params,
                         nmc_dmr_reply *reply);

#endif
