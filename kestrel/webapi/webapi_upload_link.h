#ifndef KESTREL_WEBAPI_WEBAPI_UPLOAD_LINK_H
#define KESTREL_WEBAPI_WEBAPI_UPLOAD_LINK_H

/* The upload into a media server as the web API reaches it: one call
 * standing for lm_dmscp_upload. Its contract: 0 once the transfer runs and
 * then exactly one final callback call (no buffer, the result in place of
 * the block size); any other answer means no callback call at all. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

/* fn(context, &user data, block size, buffer, &length): see above. */
typedef int (*webapi_upload_callback)(uint32_t context, void **user_data, uint32_t size, char *buffer,
                                      uint32_t *length);
/* Length value that aborts the transfer. */
#define WEBAPI_UPLOAD_ABORT 0xFFFFFFFFu

lm_nmc_result_t webapi_dmscp_upload(uint32_t context, void *user_data, const char *title, const char *protocol_info,
                                    uint32_t block_size, webapi_upload_callback callback, uint32_t bookmark_size,
                                    char *bookmark, uint64_t content_length);

/* Replaces the upload call (none restores it); for tests. */
typedef lm_nmc_result_t (*webapi_upload_function)(uint32_t, void *, const char *, const char *, uint32_t,
                                                  webapi_upload_callback, uint32_t, char *, uint64_t);
void webapi_upload_set_function(webapi_upload_function function);

#endif
