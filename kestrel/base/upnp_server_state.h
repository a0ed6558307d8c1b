#ifndef KESTREL_BASE_UPNP_SERVER_STATE_H
#define KESTREL_BASE_UPNP_SERVER_STATE_H

/* Run state of the library's server as far as the lock helpers care: a lock
 * request (upnp_client_lock_mutex and the locked lists) fails instead of
 * waiting for good once the server has stopped, which lets threads run down
 * at shutdown. The network runtime sets the state; until it does, the state
 * is "running". Internal to the library. */

#ifdef __cplusplus
extern "C" {
#endif

enum upnp_server_state {
  UPNP_SERVER_STOPPED = 0,
  UPNP_SERVER_RUNNING = 1,
  UPNP_SERVER_RESTARTING = 2
};

int upnp_server_get_state(void);
void upnp_server_set_state(int state);
/* 1 while running or restarting. */
int upnp_server_is_active(void);

#ifdef __cplusplus
}
#endif

#endif
