#ifndef KESTREL_HTTP_HTTP_STREAM_INTERNAL_H
#define KESTREL_HTTP_HTTP_STREAM_INTERNAL_H

/* Internal: what the receiver threads and the control functions of the
 * stream receiver share. */

#include <stdint.h>

#include "http/http_stream.h"

/* Opens the data connection for a URL (-1 on failure); HTTP_open unless a
 * test or the fuzzer put its own in (none restores HTTP_open). */
typedef int (*stream_connector)(const char *url);
void stream_set_connector(stream_connector connector);
int stream_connect(const char *url);

/* Length of one stalling step in ms (100; tests may shorten it). */
void stream_set_stall_step_ms(unsigned int ms);
unsigned int stream_stall_step_ms(void);

/* 1 when generation is the current receiver and the state is below 32;
 * takes the lock itself. */
int stream_is_current(StreamInfo *info, uint32_t generation);

/* Raises the state to a final code when generation is current and the state
 * is not final yet (the first final code wins). */
void stream_finish(StreamInfo *info, uint32_t generation, uint32_t code);

/* Notification on behalf of a given receiver; the abort flag. */
int stream_notify(StreamInfo *info, uint32_t generation, uint32_t code, uint32_t count);

/* The receiver enters the caller's buffer: 1 when it is still current (busy
 * is then counted), 0 when it has been replaced. */
int stream_enter_buffer(StreamInfo *info, uint32_t generation);
void stream_leave_buffer(StreamInfo *info);

/* Replaces the current receiver by none: clears it, shuts its connection
 * down. Called with the lock held. */
void stream_drop_receiver_locked(StreamInfo *info);

/* Waits (bounded by ms) until no replaced receiver is in the buffer or the
 * callback (the caller's own callback excepted); 1 when that happened. */
int stream_wait_idle(StreamInfo *info, unsigned int ms);

/* Registers a connection of the receiver: 1 when it is still current (the
 * record's socket is then sock), 0 otherwise. */
int stream_adopt_socket(StreamInfo *info, uint32_t generation, int sock);
/* Closes the receiver's connection *sock (when open) and clears the record's
 * socket when it is that one. */
void stream_close_socket(StreamInfo *info, int *sock);

/* Starts a new receiver thread in the given state (a use is taken first).
 * 1 on success. */
typedef void *(*stream_thread_routine)(void *argument);
int stream_start_receiver(StreamInfo *info, uint32_t state, stream_thread_routine routine);

/* Replaces the receiver by none in the given state and waits (bounded)
 * until the old one has left the buffer and the callback and, for up to
 * 500 ms, until its thread ended. */
void stream_replace_receiver(StreamInfo *info, uint32_t state);

/* Starts a new receiver; when it cannot start, the state becomes 64, the
 * consumer is told so and 500 comes back (else 200). */
int stream_restart(StreamInfo *info, uint32_t state, stream_thread_routine routine, const char *who);

/* What a receiver thread is handed. */
struct stream_receiver_start {
  StreamInfo *info;
  uint32_t generation;
};

/* The HTTP receiver thread. */
void *stream_http_receive_thread(void *argument);

/* Header exchange on *sock (opened when -1): the header length, or 0. The
 * header is left in `header` (STREAM_HEADER_SIZE bytes, the receiver's own)
 * and copied into info->header while the receiver is current. status_out
 * receives the last status seen (404 when no header came). */
int get_http_header(StreamInfo *info, uint32_t generation, int *sock, int head, const char *fields,
                    char *header, int *status_out);

/* Learns from a response header on behalf of a receiver (all: content type
 * and features too, else only length and offset); nothing is changed unless
 * it is the current receiver. 1 when it was. */
int stream_learn(StreamInfo *info, uint32_t generation, const char *header, int all);

/* Adds to the received count and the position while generation is current. */
void stream_advance(StreamInfo *info, uint32_t generation, int64_t received, int64_t position);

/* ShoutCast: connects (following at most 10 redirections) and, when the
 * answer is a stream, sets up the record's ICY state; *sock is then the
 * stream's connection and header its answer. 1 when accepted. */
int upnp_renderer_get_shoutcast_stream(StreamInfo *info, uint32_t generation, int *sock, char *header);
/* Reads a ShoutCast stream to its end, leaving the final code in the record. */
void upnp_renderer_receive_shoutcast_stream(StreamInfo *info, uint32_t generation, int sock);
/* Frees an ICY state. */
void stream_icy_free(stream_icy *icy);

/* DTCP: 1 when hooks are registered and recognise the content type. */
int stream_dtcp_recognises(const char *content_type);
/* Opens a session for a stream whose content type the hooks recognise (the
 * session's content type replaces the stream's): 1 opened or not needed, 0
 * when the session could not be opened. */
int stream_dtcp_open(StreamInfo *info, uint32_t generation);
/* Closes the stream's session, if any (feature 16 is cleared). */
void stream_dtcp_close(StreamInfo *info);

/* WMDRM: prepares the context of a stream about to start (nothing in
 * download mode or without the hook). */
void stream_wmdrm_prepare(StreamInfo *info);
/* The block size of a protected stream (1 when not protected). */
uint32_t stream_wmdrm_block(StreamInfo *info);
/* Finishes and releases the stream's context, if any. */
void stream_wmdrm_finish(StreamInfo *info);
/* 1 when the binding hook (download support) is registered. */
int stream_wmdrm_can_bind(void);
/* Notification through the context: for a protected stream, code 2 hands a
 * decrypted copy to the consumer piece by piece, codes 3 and 16 reset the
 * context, code 33 finishes it after the notification. *handled is 0 when
 * the stream is not protected (the caller notifies as usual). */
int stream_wmdrm_notify(StreamInfo *info, uint32_t generation, uint32_t code, uint32_t count, int *handled);
/* The notification itself, without the context. */
int stream_notify_plain(StreamInfo *info, uint32_t generation, uint32_t code, uint32_t count);

/* Resolves location against base: a new text of the library's memory. */
char *stream_resolve_location(const char *base, const char *location);

#endif
