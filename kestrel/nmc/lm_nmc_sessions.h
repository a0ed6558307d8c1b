#ifndef KESTREL_NMC_LM_NMC_SESSIONS_H
#define KESTREL_NMC_LM_NMC_SESSIONS_H

/* Users of the XML command interface: the in-process API session
 * ("TAG_LOCAL_API"), from the manager start to the manager exit, and one
 * session per web client. A polling session keeps the controller's events
 * in three bounded lists (network, renderer, server) until the client
 * drains them. */

#include <stdint.h>

#include <string>
#include <vector>

/* Identifier of the API session; web-client sessions count up from 1. */
#define NMC_API_SESSION 0
/* Most events one list of a polling session keeps; the oldest goes first. */
#define NMC_SESSION_EVENT_BOUND 256u

enum nmc_session_list { NMC_EVENTS_NETWORK = 0, NMC_EVENTS_RENDERER = 1, NMC_EVENTS_SERVER = 2 };

struct nmc_session_info {
  std::string client;  // peer address; empty for the API session
  std::string name;    // set by the client ("SetSessionInfo")
  uint64_t last_access = 0;
  bool polling = false;
  bool api = false;
};

void nmc_sessions_start(void);
void nmc_sessions_stop(void);
/* A web client's session (socket, peer address); its identifier, or -1
 * while the sessions are not running. */
int nmc_sessions_open(int socket, const char *client);
void nmc_sessions_close(int session);
/* Notes a use of the session (its last access); false when unknown. */
bool nmc_sessions_touch(int session);
void nmc_sessions_touch_api(void);
bool nmc_sessions_info(int session, nmc_session_info *info);
bool nmc_sessions_set_name(int session, const char *name);
/* Switches polling; switching it on empties the lists and queues an
 * "Added" event for every known server, then every known renderer. False
 * when the session is unknown. */
bool nmc_sessions_set_polling(int session, bool on);
/* Hands an event text to every polling session (device events by the
 * replace and drop rules). */
void nmc_sessions_post(const char *text);
/* Takes the waiting events of one list, oldest first. */
std::vector<std::string> nmc_sessions_drain(int session, nmc_session_list list);
/* "GetNMCClients": one line per session, "%4u:\t%s\t%s / %llu\n" (running
 * number, client identifier or "---.---.---.---", local date of the last
 * access, the last access in seconds). */
std::string nmc_sessions_listing(void);

#endif
