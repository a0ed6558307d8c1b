// Actions of the notifiers on queues that the queue part of the controller
// carries out. Until queues exist there is nothing to act on. (The server
// actions are in lm_dmscp_actions.cpp, the renderer ones beside the renderer
// contexts.)
#include "nmc/lm_nmc_actions.h"

void nmc_action_queue_identify(int, const char *) {}
void nmc_action_queue_renderer_event(int, const char *) {}
