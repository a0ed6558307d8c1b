#ifndef KESTREL_PLAYLIST_UPNP_PROGRESSIVE_INTERNAL_H
#define KESTREL_PLAYLIST_UPNP_PROGRESSIVE_INTERNAL_H

/* Internal: the download status record and what the parts of the
 * progressive download cache share. */

#include <stdint.h>
#include <time.h>

#include <atomic>
#include <vector>

#include "base/upnp_critsec.h"
#include "http/http_stream.h"
#include "playlist/upnp_progressive.h"

struct download_status {
  std::atomic<uint32_t> ready{0};   /* 1 once the locks exist */
  /* Guards state, texts, positions, the in-memory map, the stream fields,
   * the restart fields and the reader. */
  CRITICAL_SECTION lock;
  /* Held by the one writer (the current stream's callback) and by whoever
   * opens or closes the files: guards the descriptors, the block buffer and
   * the map bytes not yet on disk. Taken before `lock`, never after it. */
  CRITICAL_SECTION write_lock;
  uint32_t state = DOWNLOAD_STATE_NONE;
  char *url = nullptr, *path = nullptr, *map_path = nullptr, *content_type = nullptr;
  int data_fd = -1, map_fd = -1;
  int64_t write_pos = 0;  /* offset of the block being filled */
  int64_t total = 0;      /* content length, 0 unknown */
  StreamInfo *stream = nullptr;  /* the current request; callbacks of others are ignored */
  char *stream_buffer = nullptr;
  char block[DOWNLOAD_BLOCK_SIZE];
  uint32_t fill = 0;
  uint32_t blocks_this_request = 0;
  time_t failed_at = 0;
  /* One entry per block: 1 once the block's data was written to the data
   * file (readers may read it). The map file learns a block only after its
   * data reached the disk (`pending` until then). */
  std::vector<uint8_t> marks;
  std::vector<uint32_t> pending;
  /* One restart at a time. */
  int restart_busy = 0;
  int64_t restart_offset = 0;
  StreamInfo *retired = nullptr;
  char *retired_buffer = nullptr;
  /* The reader's file stream (a use of it is held). */
  StreamInfo *reader = nullptr;
};

extern download_status g_DownloadStatus;

/* Creates the locks on first use (state 0 -> 1). */
void download_setup(void);
/* Sets the state with the lock held (entering 5 records the time). */
void download_set_state_locked(uint32_t state);

/* The block map. */
int64_t download_block_count(int64_t length);
/* Takes a map file's bytes for a data file of length: 1 when the size is
 * that of the length's map (marks then holds 1 for bytes of value 1, else
 * 0), 0 otherwise. */
int download_map_parse(const uint8_t *bytes, size_t size, int64_t length, std::vector<uint8_t> *marks);
/* Finders over the in-memory map (lock held): the first block at or after
 * from whose mark equals mark, as an offset (the total length when none). */
void DownloadGetFirstBlockMarked(int64_t *offset, int64_t from, uint8_t mark);
/* The first unwritten block at or after from (the total when none) and the
 * end of the run of written blocks after it. */
void DownloadGetFirstUnmarkedBlock(int64_t *offset, int64_t from, int64_t *run_end);
/* 1 when every byte of [from, to) is written (lock held). */
int download_range_ready_locked(int64_t from, int64_t to);
/* End of the written run from byte 0 (lock held). */
int64_t download_readable_locked(void);

/* The files (write_lock held). */
enum { DOWNLOAD_FILES_FAILED = 0, DOWNLOAD_FILES_READY = 1, DOWNLOAD_FILES_COMPLETE = 2, DOWNLOAD_FILES_MOVE = 3 };
/* Prepares the files for a content length; on DOWNLOAD_FILES_MOVE *move_to
 * is the first missing block to restart at. */
int DownloadCreateFiles(int64_t length, int64_t *move_to);
/* Loads the map of files left by an earlier run when they fit together
 * (nothing when they do not): lets a start skip written blocks at once. */
void download_preload_map(void);
int DownloadWriteBlock(void);
/* Writes the map bytes of blocks whose data is on disk (after syncing it). */
int download_flush_map(void);
void download_close_files(void);

/* The stream side. */
int DownloadStartInternal(int64_t offset, uint32_t state);
int DownloadStreamCallback(uint32_t count, StreamInfo *info);
/* The end of a request (stopped or ended): nothing when it was replaced. */
void DownloadStop(StreamInfo *request);
void DownloadEOF(StreamInfo *request);
/* Schedules a restart at offset on a thread of its own, replacing the
 * current request (only when it is `from`, unless from is none): 1 when
 * scheduled, 0 when one is busy, from was replaced or no thread could
 * start. */
int download_schedule_restart(int64_t offset, StreamInfo *from);
int DownloadTryRestart(int64_t offset);
/* Waits for [from, to) once for at most about 100 ms: 1 ready, 0 not yet,
 * -1 never (the download is gone). Starts a restart for a failed download. */
int download_wait_step(int64_t from, int64_t to);
/* Frees a stream record of the download and its buffer (no locks held). */
void download_free_stream(StreamInfo *stream, char *buffer);

#endif
