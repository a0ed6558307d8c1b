#ifndef KESTREL_NMC_LM_NMC_EVENTS_H
#define KESTREL_NMC_LM_NMC_EVENTS_H

/* The controller's XML event texts, the callbacks through which the control
 * point reports devices and subscription events, and the event sink. */

#include <stdint.h>

#include <string>

#include "nmc/lm_nmc.h"

/* "<ServerAdded>"/"<RendererAdded>" with index, UDN, name and (when the URL
 * base gives one) IP; every value XML-escaped. */
std::string nmc_event_added(int kind, int index, const char *udn, const char *name, const char *urlbase);
std::string nmc_event_removed(int kind, int index, const char *name);
/* "<ServerUpdated>" from a ContentDirectory event body (SystemUpdateID and
 * ContainerUpdateIDs when present and non-empty). */
std::string nmc_event_server_updated(int index, uint32_t sequence, const char *body);
/* "<RendererUpdated>" with the body's LastChange element copied as it came. */
std::string nmc_event_renderer_updated(int index, uint32_t sequence, const char *body);

/* Control point callbacks (registered by the manager start). */
void nmc_network_callback(int type, int kind, int index, const char *name);
void nmc_subscription_callback(int kind, int index, unsigned int service, uint32_t sequence, const char *body);

/* Hands an event text to the sessions; the in-process API session passes it
 * to the event sink. */
void nmc_events_to_sessions(const char *text);
/* Clears the sink and returns what it was. */
lm_nmc_api_callback nmc_events_take_sink(void);

/* The controller's own event dispatcher (lm_nmc_dispatch.cpp). */
void nmc_event_dispatcher(int kind, const char *text);

#endif
