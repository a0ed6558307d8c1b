#ifndef KESTREL_NMC_LM_NMC_H
#define KESTREL_NMC_LM_NMC_H

/* The NMC controller's plain-function API: start and stop, run states, and
 * the numbered server (DMS) and renderer (DMR) contexts.
 *
 * Every function answers a result code of the control point's code space
 * (0 success, 1 to 24, 200, and device codes passed through). Functions that
 * return text take a size and a caller buffer, clear the buffer first, and
 * answer 2 when the size is 0 or the buffer is missing, 9 when there is no
 * value and 10 when the text with its NUL does not fit.
 *
 * Every public function first makes sure the controller runs: before the
 * first start it starts it by itself; after an explicit stop only an explicit
 * start (lm_nmc_init) brings it back, and until then the answer is 11. */

#include <stdint.h>

#include "export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t lm_nmc_result_t;

#define LM_NMC_OK 0u
#define LM_NMC_INVALID_INDEX 1u
#define LM_NMC_INVALID_PARAMETER 2u
#define LM_NMC_OUT_OF_MEMORY 8u
#define LM_NMC_NOT_FOUND 9u
#define LM_NMC_BUFFER_TOO_SMALL 10u
#define LM_NMC_GOING_DOWN 11u
#define LM_NMC_START_FAILED 14u
#define LM_NMC_NO_FREE_CONTEXT 22u
#define LM_NMC_NO_VALUE 500u

/* Run states. */
#define LM_NMC_STATE_NEVER_STARTED 0u
#define LM_NMC_STATE_INITIALIZING 1u
#define LM_NMC_STATE_INITIALIZED 2u
#define LM_NMC_STATE_STARTING 3u
#define LM_NMC_STATE_RUNNING 4u
#define LM_NMC_STATE_TERMINATING 5u
#define LM_NMC_STATE_STOPPED 6u

/* Context numbers: servers below 0x10000, renderers from 0x10000. */
#define LM_NMC_DEFAULT_DMS_CONTEXT 0u
#define LM_NMC_DEFAULT_DMR_CONTEXT 0x10000u

/* fn(name, value): ("NMCRunState", run-state name) on every change of state,
 * ("NMCCriticalError", null) when logging reports a critical error. */
typedef void (*lm_nmc_state_callback)(const char *name, const char *value);
/* Server callback fn(context, code, bookmark); renderer callback
 * fn(context, code, text). */
typedef void (*lm_dmscp_callback)(uint32_t context, uint32_t code, const char *text);
typedef void (*lm_dmrcp_callback)(uint32_t context, uint32_t code, const char *text);
/* Queue callback fn(context, event, current index, pending). */
typedef void (*lm_queue_callback)(uint32_t context, uint32_t event, uint32_t current_index, uint32_t pending);
/* Event sink fn(kind, text): kind 1 with an XML event text, kind 0 (no
 * text) once at the stop. */
typedef void (*lm_nmc_api_callback)(int kind, const char *text);

/* ---- Start and stop. ---- */
/* Explicit start with a command line (argv[0] the program name); signal
 * handlers for SIGINT and SIGTERM only when install_signals is non-zero.
 * Non-zero when the controller runs afterwards. */
KESTREL_API int lm_nmc_init(int argc, const char *const *argv, int install_signals);
/* The implicit start every function makes: non-zero when the controller runs. */
KESTREL_API int lm_nmc_conn_init(void);
/* Requests the stop and returns at once. */
KESTREL_API void lm_nmc_stop(void);
KESTREL_API void lm_nmc_register_state_callback(lm_nmc_state_callback callback);
/* Non-zero while terminating or after the stop (run state 5 or 6). */
KESTREL_API int lm_nmc_is_terminating(void);
/* The application data directory used at the next start; null or empty
 * clears it. */
KESTREL_API void lm_nmc_set_appdata_path(const char *path);

/* ---- Ioctl: "Name" or "Name argument". The output buffer is cleared
 * first; 2 for a missing command or argument, 9 for an unknown one, 11
 * when the command needs the controller and it cannot run. ---- */
KESTREL_API lm_nmc_result_t lm_nmc_ioctl(uint32_t context, const char *command, uint32_t size, char *out);
KESTREL_API lm_nmc_result_t lm_dmscp_ioctl(uint32_t context, const char *command, uint32_t size, char *out);
KESTREL_API lm_nmc_result_t lm_dmrcp_ioctl(uint32_t context, const char *command, uint32_t size, char *out);

/* ---- Contexts. ---- */
KESTREL_API int lm_nmc_is_dms_context(uint32_t context);
KESTREL_API int lm_nmc_is_dmr_context(uint32_t context);
KESTREL_API lm_nmc_result_t lm_dmscp_create_context(uint32_t *context_out);
KESTREL_API lm_nmc_result_t lm_dmscp_delete_context(uint32_t context);
KESTREL_API lm_nmc_result_t lm_dmscp_register_callback(uint32_t context, lm_dmscp_callback callback);
KESTREL_API lm_nmc_result_t lm_dmrcp_create_context(uint32_t *context_out);
KESTREL_API lm_nmc_result_t lm_dmrcp_delete_context(uint32_t context);
KESTREL_API lm_nmc_result_t lm_dmrcp_register_callback(uint32_t context, lm_dmrcp_callback callback);
/* Sets or clears (null) the queue callback of a renderer context; 1 for no
 * such context. */
KESTREL_API lm_nmc_result_t lm_queue_register_callback(uint32_t context, lm_queue_callback callback);

/* ---- XML command interface. ---- */
/* Runs the command elements of xml (the root and its following siblings)
 * and returns their responses concatenated, as a new text the caller frees
 * with upnp_free_impl; a request without one element that parses is
 * answered "<Result code="402">Failed to parse XML</Result>". None when the
 * controller cannot run. `local` marks a command that must not be
 * forwarded to a stationary instance. */
KESTREL_API char *lm_nmc_api_query(const char *xml, int local);
/* lm_nmc_api_query with `local` set in Mobile Direct mode. */
KESTREL_API char *lm_nmc_api_query_string(const char *xml);

/* ---- Events. ---- */
/* The single event sink; the controller registers its own event dispatcher
 * at start. Null clears it. */
KESTREL_API void lm_nmc_register_api_callback(lm_nmc_api_callback callback);

#ifdef __cplusplus
}
#endif

#endif
