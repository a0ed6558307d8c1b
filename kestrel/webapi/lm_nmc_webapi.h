#ifndef KESTREL_WEBAPI_LM_NMC_WEBAPI_H
#define KESTREL_WEBAPI_LM_NMC_WEBAPI_H

/* The controller's local web API ("/nmc/rpc" on the library's HTTP
 * servers): switched on by the host application, registered when the
 * controller runs. */

#include <stdint.h>

#include "export.h"
#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Stores the flag and registers the API now when the controller runs
 * (otherwise at its start-up). */
KESTREL_API void lm_nmc_enable_web_api(int flag);
/* The API's base URL ("http://ADDRESS:PORT/nmc/rpc/") of the first
 * interface, written into buffer; LM_NMC_NOT_FOUND while no server runs,
 * LM_NMC_BUFFER_TOO_SMALL when it does not fit. */
KESTREL_API lm_nmc_result_t lm_nmc_web_api_base_url(uint32_t size, char *buffer);
/* Limits the log and upload commands to loopback clients (1) or not (0). */
KESTREL_API void lm_nmc_web_api_set_local_admin(int flag);
/* Largest upload body staged on disk, in MiB (default 1024). Bodies with a
 * length are also bounded by the HTTP server's body limit. */
KESTREL_API void lm_nmc_web_api_set_max_upload_mb(int megabytes);

#ifdef __cplusplus
}
#endif

/* Registration steps the controller runs (not exported). */
void registerWebApi(void);
void lm_nmc_http_rpc_init(void);
void lm_nmc_http_rpc_release(void);
/* At the controller's exit: releases what registration made. */
void lm_nmc_web_api_exit(void);

#endif
