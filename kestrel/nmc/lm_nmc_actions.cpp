// Actions of the notifiers on server levels, renderer caches and queues
// that the server, renderer and queue parts of the controller carry out.
// No context points at a server level, a renderer position or a queue
// before those parts exist, so there is nothing to act on yet.
#include "nmc/lm_nmc_actions.h"

void nmc_action_renderer_drop_metadata(int) {}
bool nmc_action_renderer_is_player(int) { return false; }
void nmc_action_renderer_context_changed(uint32_t, int, int, bool, bool) {}
void nmc_action_renderer_queue_changed(uint32_t, int) {}

void nmc_action_queue_identify(int, const char *) {}
void nmc_action_queue_renderer_event(int, const char *) {}
