#ifndef KESTREL_PLAYLIST_UPNP_PROGRESSIVE_H
#define KESTREL_PLAYLIST_UPNP_PROGRESSIVE_H

/* The progressive download cache: one remote media file per process is
 * downloaded into a local data file in blocks of 16384 bytes while a reader
 * plays it from that file behind the download. A companion block map (the
 * local path followed by "_bm", one byte per block, 1 when written) lets a
 * download that was cut off, or a seek ahead of the downloaded part, restart
 * at the first missing block.
 *
 * Results are HTTP-like numbers: 200 done, 402 missing (or too long)
 * argument, 500 failure. */

#include <stdint.h>
#include <sys/types.h>

#include "http/http_stream.h"

/* Download states. */
enum {
  DOWNLOAD_STATE_NONE = 0,       /* not set up yet */
  DOWNLOAD_STATE_IDLE = 1,
  DOWNLOAD_STATE_STARTING = 2,   /* request sent */
  DOWNLOAD_STATE_DOWNLOADING = 3,
  DOWNLOAD_STATE_COMPLETE = 4,
  DOWNLOAD_STATE_FAILED = 5,
  DOWNLOAD_STATE_RESTARTING = 6  /* a new request from another block is being made */
};

#define DOWNLOAD_BLOCK_SIZE 16384
/* Longest URL or local path taken (characters); longer ones get 402. */
#define DOWNLOAD_MAX_TEXT 4096
/* Largest content length downloaded (64 GiB); longer or unknown lengths fail. */
#define DOWNLOAD_MAX_LENGTH (64ll << 30)

/* Starts or resumes the download of url into local_path and, when handle is
 * given, opens a file stream on the local copy at start_offset for the
 * reader (buffer, size and callback are the file stream's). Without a
 * content type the stream's own is used once the first data arrived. */
int upnp_renderer_get_progressive_stream(char *buffer, uint32_t size, const char *url, const char *local_path,
                                         const char *content_type, int64_t start_offset,
                                         upnp_stream_callback callback, StreamInfo **handle);
/* The readable position (all bytes before it are on disk), the total length
 * and the state; zeros while not set up. Any argument may be none. */
void upnp_renderer_progressive_status(int64_t *position, int64_t *total, uint32_t *state);
/* Stops the reader's file stream and the download. */
void upnp_renderer_cancel_progressive(void);

/* Block the reader until the byte at offset (the last byte when offset lies
 * beyond the end) is on disk: 1 when it is, 0 when the wait gave up. */
int wait_for_offset(int64_t offset);
int wait_for_wma_header(void);

uint32_t DownloadGetState(void);
void DownloadSetState(uint32_t state);

/* read() that retries (up to 1000 times, 10 ms apart) while the writer holds
 * the file locked; any other failure ends at once. */
ssize_t upnp_shared_read(int fd, void *buffer, size_t size);

/* Restarts the download at offset (rounded down to a block): 200 when the
 * new request runs or the download is complete, else 500. */
int DownloadRestartInternal(int64_t offset);

#endif
