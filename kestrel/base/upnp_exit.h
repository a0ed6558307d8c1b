#ifndef KESTREL_BASE_UPNP_EXIT_H
#define KESTREL_BASE_UPNP_EXIT_H

/* Process exit as the library sees it: the host application may take over
 * ending the process (a plug-in must not pull its host down), in which case
 * upnp_exit calls the application's function and returns. */

#include "export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*upnp_exit_function)(int status);

/* Registers the application's exit function; none restores the default
 * (ending the process). */
KESTREL_API void register_upnp_exit_function(upnp_exit_function function);

/* Calls the registered exit function with the status and returns, or ends
 * the process with the status when none is registered. */
void upnp_exit(int status);

#ifdef __cplusplus
}
#endif

#endif
