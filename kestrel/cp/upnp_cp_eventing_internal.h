#ifndef KESTREL_CP_UPNP_CP_EVENTING_INTERNAL_H
#define KESTREL_CP_UPNP_CP_EVENTING_INTERNAL_H

/* Internal: parts of event subscription shared between its files. */

#include <stdint.h>

#include "cp/upnp_cp_eventing.h"

enum cp_eventing_counter {
  CP_EV_ACCEPTED,
  CP_EV_MALFORMED,
  CP_EV_UNKNOWN_SID,
  CP_EV_SEQUENCE,
  CP_EV_FOREIGN,
  CP_EV_UNIDENTIFIED,
  CP_EV_TOO_LARGE,
  CP_EV_SECOND_TRIES,
  CP_EV_COUNTERS
};
void cp_eventing_count(cp_eventing_counter counter);
void cp_eventing_reset_stats(void);

upnp_cp_notification_callback cp_eventing_notification_callback(void);

/* Our own subscription exchanges: begun before the request goes out, ended
 * after its result is committed. */
void cp_subscription_exchange_begin(void);
void cp_subscription_exchange_end(void);
/* True while an exchange is in flight or ended within the last second (an
 * event may overtake the stored SID). */
bool cp_subscription_exchange_recent(void);

/* The event service records of a device's kind (lock held): renderer
 * AVTransport and RenderingControl, server ContentDirectory. Fills `out`
 * (room for 2) and returns the count, 0 for other kinds or no record. */
int cp_device_services(const upnp_cp_device *device, upnp_cp_service **out);

/* Scheduler step: renews due subscriptions at `now` (seconds). */
void cp_eventing_resubscribe_tick(uint64_t now);
/* Polling thread step: polls the transport state of polled renderers. */
void cp_eventing_poll_tick(uint64_t now);
/* At control-point exit: cancels every subscribed renderer and server and
 * waits (bounded) for the cancels. */
void cp_eventing_cancel_all(void);
/* Forgets the process-wide resubscription time. */
void cp_eventing_reset_times(void);

#endif
