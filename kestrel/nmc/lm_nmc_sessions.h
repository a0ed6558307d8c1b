#ifndef KESTREL_NMC_LM_NMC_SESSIONS_H
#define KESTREL_NMC_LM_NMC_SESSIONS_H

/* Users of the XML command interface. Today only the in-process API session
 * ("TAG_LOCAL_API") exists, from the manager start to the manager exit; the
 * sessions of web clients join with the web API. */

#include <string>

void nmc_sessions_start(void);
void nmc_sessions_stop(void);
/* Notes a use of the API session (its last access). */
void nmc_sessions_touch_api(void);
/* "GetNMCClients": one line per session, "%4u:\t%s\t%s / %llu\n" (running
 * number, client identifier or "---.---.---.---", local date of the last
 * access, the last access in seconds). */
std::string nmc_sessions_listing(void);

#endif
