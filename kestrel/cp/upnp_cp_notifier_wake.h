#ifndef KESTREL_CP_UPNP_CP_NOTIFIER_WAKE_H
#define KESTREL_CP_UPNP_CP_NOTIFIER_WAKE_H

/* The "CP_NOTIFIER" thread's idle wait between its rounds: it sleeps up to
 * its tick, and a subscription event queued for it (or the control point's
 * stop) ends the wait at once, so an event goes out as soon as it arrives
 * rather than on the next tick. */

/* Waits up to ms; returns early when woken. A wake given while the thread
 * was busy ends the next wait at once (it is never lost). */
void cp_notifier_wait(unsigned int ms);
/* Ends the current or next wait; any thread, any time. */
void cp_notifier_wake(void);

#endif
