#ifndef KESTREL_PLAYLIST_LM_DMSCP_UPLOAD_H
#define KESTREL_PLAYLIST_LM_DMSCP_UPLOAD_H

/* Uploads of files into media servers. An upload creates a new object on the
 * server of a server context (CreateObject), takes the import address the
 * server gives its resource and POSTs the file's bytes there on a thread of
 * its own ("NMC DMS Upload Handler"), pulling them from the application
 * through a callback.
 *
 * Every entry point answers 0 once the transfer thread runs; then exactly
 * one final callback call carries the result. Any other answer means no
 * callback call at all. At most LM_DMSCP_UPLOAD_MAX_ACTIVE uploads run at
 * once (22 beyond). */

#include <stdint.h>

#include "export.h"
#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The data callback fn(context, &user data, block size, buffer, &length).
 * While data is wanted, buffer holds block size bytes: the callback writes
 * up to that many, stores their count in *length (0 when it has nothing
 * more, LM_DMSCP_UPLOAD_ABORT to abort) and answers non-zero when more
 * follows, 0 for the last block. The final call has no buffer, the result
 * code in place of the block size and *length 0; its answer is ignored. */
typedef int (*lm_dmscp_upload_callback)(uint32_t context, void **user_data, uint32_t size, char *buffer,
                                        uint32_t *length);

#define LM_DMSCP_UPLOAD_ABORT 0xFFFFFFFFu
/* Uploads running at once. */
#define LM_DMSCP_UPLOAD_MAX_ACTIVE 8u
/* A playlist's text is collected before it is sent with its length: at most
 * this many bytes. */
#define LM_DMSCP_UPLOAD_MAX_PLAYLIST (4u * 1024u * 1024u)
/* Longest wait for an interim answer to "Expect: 100-continue" (ms). */
#define LM_DMSCP_UPLOAD_CONTINUE_WAIT_MS 2000u

/* Playlist types of lm_dmscp_upload_playlist. */
#define LM_DMSCP_PLAYLIST_MUSIC 1u
#define LM_DMSCP_PLAYLIST_PICTURE 2u
#define LM_DMSCP_PLAYLIST_VIDEO 4u
#define LM_DMSCP_PLAYLIST_ANY 8u

/* A file of the given protocolInfo into "DLNA.ORG_AnyContainer". A content
 * length of 0 announces none (the body is sent chunked). When bookmark and
 * bookmark_size are given, the buffer receives the new object's bookmark
 * (emptied first and again on any failure). */
KESTREL_API lm_nmc_result_t lm_dmscp_upload(uint32_t context, void *user_data, const char *title,
                                            const char *protocol_info, uint32_t block_size,
                                            lm_dmscp_upload_callback callback, uint32_t bookmark_size,
                                            char *bookmark, uint64_t content_length);
/* The same with extra item elements (DIDL-Lite XML) for the new item. */
KESTREL_API lm_nmc_result_t lm_dmscp_upload_with_metadata(uint32_t context, void *user_data, const char *title,
                                                          const char *protocol_info, const char *metadata,
                                                          uint32_t block_size, lm_dmscp_upload_callback callback,
                                                          uint32_t bookmark_size, char *bookmark,
                                                          uint64_t content_length);
/* A WPL playlist (format 0) into the playlist container of its type. */
KESTREL_API lm_nmc_result_t lm_dmscp_upload_playlist(uint32_t context, void *user_data, const char *title,
                                                     uint32_t playlist_type, uint32_t format, uint32_t block_size,
                                                     lm_dmscp_upload_callback callback, uint32_t bookmark_size,
                                                     char *bookmark);

#ifdef __cplusplus
}
#endif

#endif
