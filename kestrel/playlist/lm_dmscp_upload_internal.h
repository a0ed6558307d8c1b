#ifndef KESTREL_PLAYLIST_LM_DMSCP_UPLOAD_INTERNAL_H
#define KESTREL_PLAYLIST_LM_DMSCP_UPLOAD_INTERNAL_H

/* What the upload modules share: the class table, the upload information
 * record, the set-up, the transfer and the registry of running uploads.
 * Not exported. */

#include <stdint.h>

#include "playlist/lm_dmscp_upload.h"

/* The upload class for a protocolInfo (first match of the table); none for
 * an unknown kind. */
const char *mapMimeToClass(const char *protocol_info);

/* Owned by the transfer thread and freed when it ends. */
struct upload_info {
  uint32_t context;
  int socket;  // the open connection to the import address, -1 for none
  uint32_t block_size;
  lm_dmscp_upload_callback callback;
  void *user_data;
  uint64_t content_length;  // 0: none announced
  // Playlist text: collected whole, then the POST header with its length
  // (import address, MIME type and header lines kept for it) and the body.
  int playlist;
  char *url;
  char *mime;
  char *extra_headers;
};

/* The common upload (CreateObject, the POST header, the transfer thread). */
lm_nmc_result_t server_upload(uint32_t context, void *user_data, const char *title, const char *protocol_info,
                              const char *metadata, const char *container, uint32_t block_size,
                              lm_dmscp_upload_callback callback, uint32_t bookmark_size, char *bookmark,
                              uint64_t content_length);

/* Frees the record with its texts (its socket must be closed). */
void upload_info_free(upload_info *info);

/* The transfer thread's body ("NMC DMS Upload Handler"); the record stays
 * the thread's, which frees it afterwards. */
void uploadToServer(upload_info *info);

/* Status of an answer header; 0 when none came within wait_ms (a negative
 * wait: the socket's own time-out), -1 when the connection ended or the
 * answer was not a header. */
int upload_read_status(int socket, int wait_ms);

/* ---- Running uploads (lm_dmscp_upload_threads.cpp). ---- */
/* Reserves a slot (false when LM_DMSCP_UPLOAD_MAX_ACTIVE run or the
 * controller is stopping); each reservation is ended by upload_start or
 * upload_release_slot. */
bool upload_reserve_slot(void);
void upload_release_slot(void);
/* Starts the transfer thread on a reserved slot; false (the record stays
 * the caller's and the slot is released) when it cannot start. */
bool upload_start(upload_info *info);
/* Closes the upload's socket (and sets it to -1) so that the stop never
 * shuts down a descriptor handed out again. */
void upload_close_socket(int *socket);
/* True once the controller asked running uploads to end. */
bool upload_stopping(void);
/* The stop: running uploads end (their sockets shut down, their final
 * callback made) and their threads are joined with the controller's
 * bound. New uploads are refused while it runs. */
void nmc_uploads_stop(void);
void nmc_uploads_allow(void);
/* How many upload threads run (tests). */
unsigned nmc_uploads_running(void);

#endif
