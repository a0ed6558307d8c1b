#ifndef KESTREL_CP_UPNP_CP_EVENTING_H
#define KESTREL_CP_UPNP_CP_EVENTING_H

/* Event subscriptions of the control point: GENA SUBSCRIBE / renew /
 * UNSUBSCRIBE with the devices of the device table (renderers' AVTransport and
 * RenderingControl, servers' ContentDirectory), renewal at half the granted
 * time, the NOTIFY handler on the library's HTTP server with its SID,
 * sequence and address checks, the event queue (its own lock) that the
 * notifier thread delivers into one callback, and synthetic transport-state
 * events for renderers whose own events cannot be trusted.
 *
 * Bounds of the NOTIFY handler (a network-facing entry point):
 * - an event body above UPNP_CP_MAX_EVENT_BODY bytes is refused with 413
 *   before any of it is read or buffered;
 * - an event whose SID matches no subscription is tried a second time after
 *   250 ms only while one of our own subscription exchanges is in flight or
 *   was just committed (its reply may still be on its way), and at most
 *   UPNP_CP_MAX_EVENT_RETRIES such second tries wait at once; a flood of
 *   unknown SIDs is refused at once and costs one table scan each;
 * - an event must come from the device's own address (the host of its URL
 *   base or location; a device on this machine may also use 127.0.0.1);
 * - refused events are counted (upnp_cp_eventing_get_stats). */

#include <stdint.h>

#include "cp/upnp_cp.h"
#include "http/http_server.h"

#ifdef __cplusplus
extern "C" {
#endif

#define UPNP_CP_MAX_EVENT_BODY (256u * 1024u)
#define UPNP_CP_MAX_EVENT_RETRIES 4
/* Default requested subscription time (seconds). */
#define UPNP_CP_DEFAULT_SUBSCRIPTION_TIMEOUT 300
/* Time bound of one GENA exchange's connect, send and receive (ms). */
#define UPNP_CP_GENA_IO_TIMEOUT_MS 10000

/* callback(kind, index, service, sequence, body) on the notifier thread. */
typedef void (*upnp_cp_subscription_callback)(int kind, int index, unsigned int service, uint32_t sequence,
                                              const char *body);
/* callback(connection, 200) on the HTTP server thread after an accepted
 * NOTIFY; its result becomes the handler's result. */
typedef int (*upnp_cp_notification_callback)(HTTP_connection *connection, int status);

/* ---- Module life ---- */
void upnp_cp_eventing_init(void);
void upnp_cp_eventing_exit(void);

/* ---- Callbacks and the queue ---- */
void upnp_cp_register_subscription_callback(upnp_cp_subscription_callback callback);
void upnp_cp_register_notification_callback(upnp_cp_notification_callback callback);
/* 200, or 500 when memory runs out; without a subscription callback nothing
 * is queued and the answer is 200. */
int upnp_cp_add_subscription_event(const char *body, uint32_t sequence, int index, int kind, unsigned int service);
/* Delivers the queued events (the notifier thread). */
void processSubscriptionEvents(void);
/* Events waiting in the queue. */
int upnp_cp_eventing_queued(void);

/* ---- The NOTIFY handler (registered by upnp_cp_eventing_init) ---- */
int upnp_eventing_notify(HTTP_connection *connection);

/* Counters of the handler since init (diagnostics and tests). */
typedef struct upnp_cp_eventing_stats {
  uint64_t accepted;
  uint64_t refused_malformed;   /* no NT/NTS (400), bad NT/NTS, SID or SEQ (412) */
  uint64_t refused_unknown_sid; /* no subscription with that SID (412) */
  uint64_t refused_sequence;    /* duplicate or out of sequence (412) */
  uint64_t refused_foreign;     /* SID known, but sent from another address (412) */
  uint64_t refused_unidentified; /* body names no known service (412) */
  uint64_t refused_too_large;   /* body above the bound (413) */
  uint64_t second_tries;        /* matched again after 250 ms */
} upnp_cp_eventing_stats;
void upnp_cp_eventing_get_stats(upnp_cp_eventing_stats *out);

/* ---- GENA exchanges: 0, 2 missing parameter, 3 no connection or not
 * sent, 7 no response header, 8 out of memory, or the HTTP status when it is
 * not 2xx. ---- */
int upnp_cp_subscribe(const char *event_url, const char *base_url, const char *callback_interface, char **sid_out,
                      int64_t *timeout_inout);
int upnp_cp_resubscribe(const char *event_url, const char *base_url, const char *sid, int64_t *timeout_inout);
int upnp_cp_unsubscribe(const char *event_url, const char *base_url, const char *sid);

/* ---- Subscriptions of the table's devices ---- */
typedef int (*upnp_cp_lock_fn)(void);
typedef void (*upnp_cp_unlock_fn)(void);
struct upnp_cp_device;
struct upnp_cp_service;
int upnp_cp_subscribe_service(struct upnp_cp_device *device, struct upnp_cp_service *service, upnp_cp_lock_fn lock,
                              upnp_cp_unlock_fn unlock);
int upnp_cp_unsubscribe_service(struct upnp_cp_device *device, struct upnp_cp_service *service,
                                upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock);
int upnp_cp_subscribe_device(struct upnp_cp_device *device, upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock);
int upnp_cp_unsubscribe_device(struct upnp_cp_device *device, upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock);

/* Subscription time asked of devices for new subscriptions (seconds; 0 or
 * less restores the default of UPNP_CP_DEFAULT_SUBSCRIPTION_TIMEOUT): sets
 * the configuration property subscription_timeout, which may also come from
 * the ini file or the command line. A renewal asks for the time granted
 * before. */
void upnp_cp_set_requested_timeout(int64_t seconds);

/* Process-wide next resubscription time (seconds on the control point
 * clock; 0 = none). */
uint64_t upnp_cp_next_resubscription_time(void);
/* The SID of a device's service (AVTransport 4, RenderingControl 2,
 * ContentDirectory 8) as an accounted copy, or none. */
char *upnp_cp_get_service_sid(int index, int kind, unsigned int service);
/* Whether the device's subscribed flag is set (0 when unknown). */
int upnp_cp_is_subscribed(int index, int kind);

/* ---- Event texts (pure readers) ---- */
/* Synthetic AVTransport event body for a transport state (accounted copy),
 * with the SyntheticEvent mark when marked; none for an unknown state. */
char *upnp_cp_createSyntheticStateEvent(int state, int marked);
/* Transport state index found in an event body, or -1. */
int upnp_cp_get_event_TransportState(const char *body);
/* The SID of a header (accounted copy), or none when missing or empty. */
char *upnp_cp_get_SID(const char *header);
/* The SEQ field: 1 with *out set, 0 when missing or not a number. */
int upnp_cp_get_event_sequence(const char *header, uint32_t *out);
/* The granted seconds of a TIMEOUT field (the requested value when the field
 * is missing, 0 when it is not a number). */
int64_t upnp_cp_get_timeout(const char *header, int64_t requested);
/* Service bits of an event body from its content, 0 when unknown. */
unsigned int upnp_cp_get_event_service(const char *body);

#ifdef __cplusplus
}
#endif

#endif
