#ifndef KESTREL_NMC_LM_NMC_NOTIFY_H
#define KESTREL_NMC_LM_NMC_NOTIFY_H

/* Notification records, queued per side for the notifier threads, and the
 * notifier threads themselves. */

#include <stdint.h>

#include <string>

/* Callback codes. */
#define NMC_SERVER_CONTENT_UPDATED 1u
#define NMC_SERVER_REMOVED 2u
#define NMC_SERVER_ADDED 4u
#define NMC_RENDERER_REMOVED 0x4001u
#define NMC_RENDERER_ADDED 0x4002u

/* Renderer notification categories. */
#define NMC_CATEGORY_UPDATE 0
#define NMC_CATEGORY_LIST 1
#define NMC_CATEGORY_QUEUE 2

/* Notification modes: updates 0 keyword, 1 XML; list changes 0 bookmark
 * (UDN), 1 XML. */
#define NMC_MODE_KEYWORD 0
#define NMC_MODE_XML 1

struct nmc_notification {
  uint32_t code = 0;
  // Queue events: current index and pending count.
  uint32_t values[3] = {0, 0, 0};
  int index = -1;
  bool has_text = false;
  std::string text;
  int mode = NMC_MODE_KEYWORD;
  int list_mode = NMC_MODE_KEYWORD;
  // The update carried no valid transport state.
  bool no_state = false;
  int category = NMC_CATEGORY_UPDATE;
  // Server content updates: the update identifier.
  uint64_t update_id = 0;
};

/* Queues a notification for the side's notifier (false when the side is not
 * open or memory ran out; the notification is then dropped and logged). */
bool nmc_notify_push(int side, const nmc_notification &notification);
/* Notifications waiting on a side. */
size_t nmc_notify_pending(int side);

/* The notification modes in force (renderer side). */
int nmc_update_mode(void);
void nmc_set_update_mode(int mode);
int nmc_list_mode(void);
void nmc_set_list_mode(int mode);

/* Opens both queues and starts "NMC Server Context Notifier" (when servers
 * are searched for) and "NMC Renderer Context Notifier". */
void nmc_notifiers_start(void);
/* Joins both notifiers within one bound (NMC_THREAD_JOIN_BOUND_MS for the
 * two together), then empties and closes the queues.
 * A notifier that does not end in time is left behind; it only touches the
 * process-wide queues and lists, which stay valid, and ends at its next
 * look at the run state. */
void nmc_notifiers_stop(void);

/* Start delay of the notifiers (ms, 1500 by default; tests shorten it). */
void nmc_notifiers_set_start_delay(unsigned int ms);

/* The notifier loops (lm_nmc_notifier_dms.cpp, lm_nmc_notifier_dmr.cpp). */
void nmc_deliver_server(const nmc_notification &notification, uint64_t generation);
void nmc_deliver_renderer(const nmc_notification &notification, uint64_t generation);
/* The run a notifier belongs to; a notifier left behind by a stop sees a
 * newer one and ends without touching the new run's lists. */
uint64_t nmc_notify_generation(void);
/* Whether a notifier of that run may still deliver: the controller is not
 * terminating and no stop ended the run. */
bool nmc_notify_current(uint64_t generation);

#endif
