#ifndef KESTREL_PLAYLIST_LM_NMC_DOWNLOAD_H
#define KESTREL_PLAYLIST_LM_NMC_DOWNLOAD_H

/* Downloads of resources for the application: a URL is pulled through the
 * stream receiver in download mode and handed to the application's callback
 * piece by piece on the receiver's thread; when the stream itself ends, one
 * last call carries the result.
 *
 * Like every controller function, a download first makes sure the controller
 * runs (see lm_nmc.h): 11 when it cannot run. */

#include <stdint.h>

#include "export.h"
#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the final call. */
#define LM_NMC_DOWNLOAD_DONE 0u     /* the whole resource was delivered */
#define LM_NMC_DOWNLOAD_FAILED 14u  /* the stream failed or was cut off */
#define LM_NMC_DOWNLOAD_STOPPED 20u /* the stream was stopped */

/* Buffer size (bytes) when the caller gives 0. */
#define LM_NMC_DOWNLOAD_DEFAULT_BUFFER 8192u

/* The data callback fn(context, &user data, URL, buffer, count): for each
 * piece, count bytes in buffer; non-zero goes on, 0 stops the download, which
 * then makes no further call at all. The final call has no buffer and
 * carries the result (LM_NMC_DOWNLOAD_*) in count; its answer is ignored.
 * The URL is the one downloaded (its scheme in lower case). *user_data may
 * be changed by the callback and is handed to the next call. */
typedef int (*lm_nmc_download_callback)(uint32_t context, void **user_data, const char *url, const char *buffer,
                                        uint32_t count);

/* Downloads one URL ("http://", the scheme in any case) with the optional
 * protocolInfo of its resource (DLNA flags, protection marks). Buffer size
 * 0 means LM_NMC_DOWNLOAD_DEFAULT_BUFFER. Answers 0 when the stream has
 * started (the callback may run before this returns), 2 for a missing URL
 * or callback or a URL that is not an HTTP URL, 8 when the buffer, the
 * records or the receiver thread cannot be had, 11 when the controller
 * cannot run. Any other result means the callback is never called. */
KESTREL_API lm_nmc_result_t lm_nmc_download_uri(uint32_t context, void *user_data, const char *url,
                                                const char *protocol_info, uint32_t buffer_size,
                                                lm_nmc_download_callback callback);

/* A metadata query of a context: one value of the object under its cursor
 * (lm_dmscp_extract_metadata, lm_dmrcp_extract_metadata,
 * lm_queue_extract_metadata). */
typedef lm_nmc_result_t (*lm_nmc_metadata_query)(uint32_t context, const char *key, uint32_t occurrence,
                                                 uint32_t size, char *buffer);

/* Longest metadata value a download by key reads (bytes with its NUL). */
#define LM_NMC_DOWNLOAD_MAX_VALUE 2048u

/* Downloads a resource of the object under the context's cursor. A text
 * that begins with "http://" (in any case) is the URL itself; any other is
 * a metadata key ("Resource@URI") read through the query at the given
 * occurrence, whose value must be an HTTP URL, and the resource's
 * "Resource@ProtocolInfo" (else "res@protocolInfo") at the same occurrence
 * goes with it. Server contexts name the resource "Resource@URI",
 * renderer and queue contexts "res". Answers as
 * lm_nmc_download_uri, 2 for a missing key, query or callback or a value
 * that is no HTTP URL (an RTSP resource, say), and the query's own error
 * (9, 10, ...) when a value cannot be read. */
KESTREL_API lm_nmc_result_t lm_nmc_download(uint32_t context, void *user_data, lm_nmc_metadata_query query,
                                            const char *key, uint32_t occurrence, uint32_t buffer_size,
                                            lm_nmc_download_callback callback);
/* lm_nmc_download with the server context's, the renderer context's and the
 * queue's metadata query. */
KESTREL_API lm_nmc_result_t lm_dmscp_download(uint32_t context, void *user_data, const char *key,
                                              uint32_t occurrence, uint32_t buffer_size,
                                              lm_nmc_download_callback callback);
KESTREL_API lm_nmc_result_t lm_dmrcp_download(uint32_t context, void *user_data, const char *key,
                                              uint32_t occurrence, uint32_t buffer_size,
                                              lm_nmc_download_callback callback);
KESTREL_API lm_nmc_result_t lm_queue_download(uint32_t context, void *user_data, const char *key,
                                              uint32_t occurrence, uint32_t buffer_size,
                                              lm_nmc_download_callback callback);

#ifdef __cplusplus
}
#endif

#endif
