// Actions of the notifiers on server levels, renderer caches and queues
// that the server, renderer and queue parts of the controller carry out.
// No context points at a server level, a renderer position or a queue
// before those parts exist, so there is nothing to act on yet.
#include "nmc/lm_nmc_actions.h"

void nmc_action_server_details(int) {}
void nmc_action_choose_proxy_server(void) {}
void nmc_action_clear_server_choice(int) {}
bool nmc_action_server_bookmark(uint32_t, int, std::string *) { return false; }
void nmc_action_server_level_updated(uint32_t, int, uint64_t) {}
void nmc_action_server_context_to_top(uint32_t, int) {}
