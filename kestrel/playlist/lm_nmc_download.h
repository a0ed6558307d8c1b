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

#ifdef __cplusplus
}
#endif

#endif
