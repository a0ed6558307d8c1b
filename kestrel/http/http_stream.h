#ifndef KESTREL_HTTP_HTTP_STREAM_H
#define KESTREL_HTTP_HTTP_STREAM_H

/* The media stream receiver: a resource pulled from an HTTP server on a
 * receiver thread of its own and handed to a consumer in buffer-sized pieces
 * through a callback, while the consumer may pause, resume, seek or stop it.
 *
 * Results are HTTP-like numbers: 200 done, 402 missing argument, 500 failure,
 * 701 not allowed in the current state.
 *
 * Lifecycle. A record lives while its creator or a receiver thread holds a
 * use (an atomic count, taken for a receiver before its thread starts). Each
 * receiver is known by a generation number; the record's `receiver` holds the
 * generation of the current one (0: none). A receiver that finds another
 * value there has been replaced: it ends without notifying. Each receiver
 * owns the socket it opened; other threads only shut it down. Free, seek and
 * resume wait (bounded) until a replaced receiver has left the caller's
 * buffer and the callback, so that once they return no callback comes from
 * an old receiver. */

#include <pthread.h>
#include <stdint.h>

#include <atomic>

#include "base/upnp_critsec.h"

/* Event codes (the record's state). Codes of 32 and above are final. */
enum {
  STREAM_EVENT_STARTED = 0,
  STREAM_EVENT_HEADER = 1,
  STREAM_EVENT_DATA = 2,
  STREAM_EVENT_PAUSED = 3,
  STREAM_EVENT_SEEK = 16,
  STREAM_EVENT_STOPPED = 32,
  STREAM_EVENT_END = 33,
  STREAM_EVENT_FAILURE = 64
};

/* Feature bits. */
#define STREAM_FEATURE_BYTE_SEEK (1ull << 0)
#define STREAM_FEATURE_TIME_SEEK (1ull << 1)
#define STREAM_FEATURE_CONVERTED (1ull << 2)
#define STREAM_FEATURE_STALL (1ull << 3)
#define STREAM_FEATURE_PROTECTED (1ull << 16)
#define STREAM_FEATURE_LIVE (1ull << 24)
#define STREAM_FEATURE_KEEP_FILE (1ull << 25)
#define STREAM_FEATURE_NO_SEEK (1ull << 26)
#define STREAM_FEATURE_CACHE_FILE (1ull << 27)
#define STREAM_FEATURE_DOWNLOAD (1ull << 28)
#define STREAM_FEATURE_STREAMING_MODE (1ull << 29)

/* DLNA flags of protocolInfo and contentFeatures (the primary 32 bits). */
#define DLNA_FLAG_TIME_LIMITED_SEEK (1u << 30)
#define DLNA_FLAG_BYTE_LIMITED_SEEK (1u << 29)
#define DLNA_FLAG_STREAMING (1u << 24)
#define DLNA_FLAG_INTERACTIVE (1u << 23)
#define DLNA_FLAG_BACKGROUND (1u << 22)
#define DLNA_FLAG_CONNECTION_STALL (1u << 21)

/* Size of the header field (a header keeps at most 8191 bytes). */
#define STREAM_HEADER_SIZE 8192
/* Longest request field text (characters). */
#define STREAM_MAX_REQUEST_FIELDS 1023
/* Most redirects one request follows. */
#define STREAM_MAX_REDIRECTS 10

/* Results. */
#define STREAM_OK 200
#define STREAM_MISSING_ARGUMENT 402
#define STREAM_FAILED 500
#define STREAM_NOT_ALLOWED 701

struct StreamInfo;

/* DTCP-IP hooks of the application (none registered by default). The
 * library only asks whether a content type is protected, opens a session for
 * such a stream before its body is read and closes it when the stream ends;
 * what a session does is the application's. */
struct upnp_dtcp_callbacks {
  /* 1 when the content type is DTCP-protected. */
  int (*recognise)(const char *content_type);
  /* Opens a session for the stream at url: a handle, none on failure. The
   * content's own type may be written to real_type (at most real_type_size
   * bytes with the terminating zero); an empty text leaves the type as it is. */
  void *(*open_session)(const char *url, const char *content_type, char *real_type, unsigned int real_type_size);
  void (*close_session)(void *session);
};

/* Registers the hooks (copied); none, or a table without recognise, removes
 * them. */
void upnp_renderer_set_dtcp_callbacks(const upnp_dtcp_callbacks *callbacks);

/* WMDRM hooks of the application (none registered by default). Receiver
 * support means that `prepare` is registered, download support that `bind`
 * is. The library prepares a context for each stream that is not in download
 * mode, passes the stream's data through it, resets it when the stream
 * pauses or seeks and finishes it at the end; what a context does inside is
 * the application's. */
/* Hands clear bytes on to the consumer (at most the stream's buffer size at
 * a time): 1 when the consumer asked to abort or the stream was replaced. */
typedef int (*upnp_wmdrm_deliver)(void *deliver_argument, const char *clear, uint32_t count);
struct upnp_wmdrm_callbacks {
  /* A context for the content at location (URL or path), or none when the
   * content is not protected (the stream then runs as it is). */
  void *(*prepare)(const char *location);
  /* The content's block size in bytes: resumed and file streams start on a
   * block boundary. 0 or 1: no alignment. */
  uint32_t (*block_size)(void *context);
  /* Decrypts a copy of a piece and hands the clear bytes on through deliver,
   * as often as it needs; 1 aborts the stream. */
  int (*process)(void *context, const char *data, uint32_t count, upnp_wmdrm_deliver deliver,
                 void *deliver_argument);
  /* After a pause or a seek the next data is not the continuation. */
  void (*reset)(void *context);
  /* Finishes and releases the context (end of stream or end of the record). */
  void (*finish)(void *context);
  /* Binds the licence of the content at location: 1 bound, 0 failure. */
  int (*bind)(const char *location);
};

/* Registers the hooks (copied); none, or a table without prepare and bind,
 * removes them. */
void upnp_renderer_set_wmdrm_callbacks(const upnp_wmdrm_callbacks *callbacks);
/* Binds the licence of location when the binding hook is registered: 1
 * bound or nothing to do, 0 failure. */
int upnp_renderer_wmdrm_bind(const char *location);

/* ShoutCast (ICY) state of a stream: station texts from the answer header,
 * the metadata interval, and the last stream title and URL from the
 * metadata blocks. Texts are the library's memory, owned by the record. */
struct stream_icy {
  int64_t metaint;         /* audio bytes between metadata blocks, 0 none */
  char *metadata;          /* 4097 bytes when metaint > 0 */
  char *name, *genre, *url;
  int32_t pub;
  int32_t bitrate;
  char *title;             /* "StreamTitle=" */
  char *stream_url;        /* "StreamUrl=" */
  uint32_t changed;        /* bit 0 title, bit 1 URL changed with the last block */
  int64_t content_length;  /* 0 when the answer announced none */
  int chunked;             /* the answer is chunked */
};

/* The consumer: called with the byte count of the event (the header length
 * for code 1, the piece's length for code 2, else 0); reads the code from
 * info->state. Returns 1 to abort the stream. */
typedef int (*upnp_stream_callback)(uint32_t count, StreamInfo *info);

struct StreamInfo {
  uint32_t state;
  int32_t pause_request;
  int socket;            /* the current receiver's connection, -1 when none */
  int file;              /* file streams only: the file's descriptor, -1 when none */
  int file_owned;        /* 1 when the stream opened the file from a path (closed with the record) */
  int file_stream;       /* 1 for file streams (the file may be closed already) */
  uint32_t receiver;     /* generation of the current receiver; 0 when none */
  uint32_t last_generation;
  CRITICAL_SECTION lock; /* guards state, pause request, receiver, socket, the texts and busy */

  char *buffer;
  uint32_t buffer_size;
  char header[STREAM_HEADER_SIZE];
  char *url;
  char *extra_fields;
  char *caller_fields;
  char *content_type;
  uint64_t features;
  int64_t total_length;
  int64_t position;
  int64_t received;
  int64_t time_position;
  int64_t byte_offset;
  int32_t duration;
  upnp_stream_callback callback;
  stream_icy *icy;       /* ShoutCast state, none for other streams */
  void *protection_session; /* DTCP session while feature 16 is set */
  const upnp_dtcp_callbacks *protection_hooks; /* the hooks that opened it */
  void *wmdrm_context;   /* WMDRM context of a protected stream, none otherwise */
  const upnp_wmdrm_callbacks *wmdrm_hooks; /* the hooks that prepared it */
  void *context; /* the consumer's own, untouched by the receiver */
  uint32_t resource_flags;
  uint32_t response_flags;
  int32_t limited_random_access;

  std::atomic<int32_t> use_count;
  /* Receivers inside the caller's buffer or the callback, and the thread
   * that is in the callback (so that a consumer may stop, free or seek from
   * within its callback without waiting for itself). */
  int32_t busy;
  int32_t in_callback;
  pthread_t callback_thread;
  /* Receiver threads that have not yet ended. */
  std::atomic<int32_t> running;
};

/* Records. */
StreamInfo *upnp_client_createStreamInfo(void);
StreamInfo *upnp_client_initStreamInfo(StreamInfo *info, char *buffer, uint32_t buffer_size, const char *url,
                                       const char *extra_fields, const char *caller_fields,
                                       upnp_stream_callback callback, uint64_t features);
StreamInfo *upnp_client_startHttpStream(StreamInfo *info);

int upnp_renderer_get_http_stream(char *buffer, uint32_t size, const char *url, const char *extra_fields,
                                  const char *caller_fields, upnp_stream_callback callback, StreamInfo **out);
/* A live (ShoutCast) stream: no extra fields, no seeking. */
int upnp_renderer_get_http_live_stream(char *buffer, uint32_t size, const char *url, const char *caller_fields,
                                       upnp_stream_callback callback, StreamInfo **out);
int upnp_renderer_download_http_stream(char *buffer, uint32_t size, const char *url, const char *extra_fields,
                                       const char *caller_fields, upnp_stream_callback callback,
                                       StreamInfo **out);

/* File streams: from a path, or from a descriptor (path none, the URL is
 * then "<pipe>"). close_at_end 0 leaves the file open when the stream ends. */
int upnp_renderer_get_file_stream(char *buffer, uint32_t size, const char *path, int descriptor,
                                  const char *content_type, int64_t start_offset, int close_at_end,
                                  upnp_stream_callback callback, StreamInfo **out);
/* The progressive download cache's file stream (no URLs). */
int upnp_renderer_get_file_stream_int(char *buffer, uint32_t size, const char *path, const char *content_type,
                                      int64_t start_offset, upnp_stream_callback callback, StreamInfo **out);
/* The progressive download cache's wait for the bytes [from, to) of the
 * file it is writing, before its file stream reads them: 1 ready, 0 not yet
 * (asked again; about 100 ms each), -1 never. None: no waiting. */
typedef int (*upnp_stream_cache_wait)(int64_t from, int64_t to);
void upnp_renderer_set_cache_wait(upnp_stream_cache_wait wait);
int upnp_renderer_resume_file_stream(StreamInfo *info);
int upnp_renderer_seek_file_stream(StreamInfo *info, int mode, int64_t position);
int upnp_renderer_reget_file_stream(StreamInfo *info);

/* Control. */
void upnp_renderer_stop_stream(StreamInfo *info);
int upnp_renderer_pause_stream(StreamInfo *info);
int upnp_renderer_resume_stream(StreamInfo *info);
int upnp_renderer_seek_stream(StreamInfo *info, int mode, int64_t position);
int upnp_renderer_reget_stream(StreamInfo *info);
int upnp_renderer_resume_http_stream(StreamInfo *info);
int upnp_renderer_seek_http_stream(StreamInfo *info, int mode, int64_t position);
int upnp_renderer_reget_http_stream(StreamInfo *info);
void upnp_renderer_free_streaminfo(StreamInfo *info);
void upnp_renderer_decrease_streaminfo_use(StreamInfo *info);
void upnp_renderer_set_stream_state(StreamInfo *info, uint32_t code);

/* Splits a ShoutCast stream title "artist - title" at its first " - ";
 * without one the whole text is the title and there is no artist. New texts
 * (free with upnp_free_impl); 402 for missing arguments, 500 without memory,
 * else 200. */
int upnp_renderer_get_shoutcast_track_info(const char *stream_title, char **title, char **artist);

/* Request field texts, newly allocated (free with upnp_free_impl). */
char *upnp_renderer_create_byte_range(int64_t offset);
char *upnp_renderer_create_time_range(uint64_t ms, int limited);

/* Notifies the consumer on behalf of the current receiver; the abort flag. */
int upnp_renderer_notify_stream_callback(uint32_t code, uint32_t count, StreamInfo *info);

/* Request fields for a HEAD (head = 1) or GET: a new text, or none when it
 * would exceed STREAM_MAX_REQUEST_FIELDS characters or memory ran out. */
char *createHeaderExtraFields(StreamInfo *info, int head);
/* Learns content type, features, length and offset from a response header. */
void storeStreamFeatures(StreamInfo *info, const char *header);
void upnp_renderer_add_stream_features(StreamInfo *info, const char *header);
void setLengthAndOffset(StreamInfo *info, const char *header);

#endif
