#ifndef KESTREL_NMC_LM_NMC_ACTIONS_H
#define KESTREL_NMC_LM_NMC_ACTIONS_H

/* What the notifiers and the device events do to server browse levels,
 * renderer positions and caches, and queues. One call per action; the
 * server side (lm_dmscp_actions.cpp), the renderer side (lm_dmrcp_metadata.cpp)
 * and the queues (lm_nmc_queue_links.cpp) carry them out. */

#include <stdint.h>

#include <string>

/* ---- Servers. ---- */
/* Fills the server entry's details after it was added. */
void nmc_action_server_details(int index);
/* Chooses the proxy server again (after an addition or removal). */
void nmc_action_choose_proxy_server(void);
/* A removed server stops being the proxy or the local server. */
void nmc_action_clear_server_choice(int index);
/* The current bookmark of a context that points at the server; false when it
 * does not (the caller then uses the plain server bookmark). */
bool nmc_action_server_bookmark(uint32_t context, int index, std::string *bookmark);
/* A content update reached the context: empties the cache of its current
 * level when that level is below the top and older than update_id. */
void nmc_action_server_level_updated(uint32_t context, int index, uint64_t update_id);
/* Moves the context to the top level when it points at the server (or at
 * the device under removal). */
void nmc_action_server_context_to_top(uint32_t context, int index);

/* ---- Renderers. ---- */
/* Drops the renderer's cached model and metadata texts. */
void nmc_action_renderer_drop_metadata(int index);
/* Whether the renderer's model text names the associated player. */
bool nmc_action_renderer_is_player(int index);
/* A context's caches after a renderer change: added (positioned at or after
 * position), removed (re-find its position, drop its queue cache), or the
 * renderer's metadata dropped. */
void nmc_action_renderer_context_changed(uint32_t context, int index, int position, bool added, bool removed);
/* A queue event: drops the context's queue cache. */
void nmc_action_renderer_queue_changed(uint32_t context, int index);

/* ---- Queues. ---- */
/* Finds or creates the renderer's queue identifier. */
void nmc_action_queue_identify(int index, const char *udn);
/* A renderer event for a renderer with a queue: next-URI set by another
 * controller, the new transport state. */
void nmc_action_queue_renderer_event(int index, const char *body);

#endif
