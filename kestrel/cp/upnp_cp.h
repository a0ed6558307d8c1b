#ifndef KESTREL_CP_UPNP_CP_H
#define KESTREL_CP_UPNP_CP_H

/* The control point's device table: three fixed-size tables (media servers,
 * media renderers, remote-UI servers) filled from SSDP announcements,
 * completed from each device's description and service descriptions, kept
 * valid by expiry, revalidation and connection checks, and reported upward
 * through one callback as "added" (0) and "removed" (1) events delivered on
 * the "CP_NOTIFIER" thread.
 *
 * A device is addressed by its kind and its index in the table of that kind;
 * the index stays the same while the device lives, and a device that comes
 * back after a byebye gets its old index unless the slot was reused.
 *
 * Functions that answer with a result code clear their outputs first; texts
 * are copied into caller buffers (10 when one is too small) or handed out as
 * accounted copies the caller frees with upnp_free_impl. */

#include <stdint.h>

#include "base/upnp_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Device kinds. */
#define UPNP_CP_KIND_SERVER 1
#define UPNP_CP_KIND_RENDERER 2
#define UPNP_CP_KIND_RUIS 3

/* Service bits. */
#define UPNP_CP_SERVICE_CM 1u
#define UPNP_CP_SERVICE_RC 2u
#define UPNP_CP_SERVICE_AVT 4u
#define UPNP_CP_SERVICE_CDS 8u
#define UPNP_CP_SERVICE_RUIS 16u

/* Device states. */
#define UPNP_CP_STATE_FREE 0u
#define UPNP_CP_STATE_READY 1u
#define UPNP_CP_STATE_LOADING 2u
#define UPNP_CP_STATE_RELOADING 3u
#define UPNP_CP_STATE_INVALIDATED 4u
#define UPNP_CP_STATE_REVALIDATING 5u
#define UPNP_CP_STATE_BYEBYE 6u

/* Events. */
#define UPNP_CP_EVENT_ADDED 0
#define UPNP_CP_EVENT_REMOVED 1

/* The renderer index that stands for this machine's own renderer. */
#define UPNP_CP_LOCAL_RENDERER_INDEX 4096

/* Result codes used here. */
#define UPNP_CP_OK 0
#define UPNP_CP_INVALID_INDEX 1
#define UPNP_CP_INVALID_PARAMETER 2
#define UPNP_CP_DEVICE_GONE 3
#define UPNP_CP_OUT_OF_MEMORY 8
#define UPNP_CP_NOT_FOUND 9
#define UPNP_CP_BUFFER_TOO_SMALL 10
#define UPNP_CP_GOING_DOWN 11

/* Largest device description or service description accepted (bytes); a
 * larger one makes the device unusable. */
#define UPNP_CP_MAX_DESCRIPTION_SIZE (512u * 1024u)
/* Time bound of one description or SCPD fetch. */
#define UPNP_CP_FETCH_TIMEOUT_MS 5000
/* Longest friendly name kept (characters). */
#define UPNP_CP_MAX_NAME 64

/* callback(event type, kind, index, friendly name), on the notifier thread. */
typedef void (*upnp_control_callback)(int type, int kind, int index, const char *name);

/* ---- Start and stop. ---- */
int upnp_control_init(void);
/* 0 on success, 8 when memory or a lock could not be had. */
int upnp_control_init2(int flag);
void upnp_control_exit(void);
/* upnp_control_init2 with `network` 0 does everything but start the network
 * stack (tests that drive the SSDP entry points directly). */
int upnp_cp_start(int flag, int network);
/* 1 when the lock is held now, 0 when the control point is not initialised. */
int upnp_cp_lock_section(void);
void upnp_cp_unlock_section(void);
/* 1 between init and exit. */
int upnp_cp_is_running(void);

/* ---- From SSDP. ---- */
void upnp_control_add_device(const char *location, const char *udn, const char *interface,
                             unsigned int validity_seconds, int kind);
int upnp_control_delete_device(const char *udn, int kind);

/* ---- Callback. ---- */
void upnp_control_register_and_fire_callback(upnp_control_callback callback, int fire_servers, int fire_renderers);
void upnp_control_register_callback(upnp_control_callback callback);
/* Queues an event under the cancel rules (type 2 and nameless events are not
 * queued, nor anything without a callback). */
void upnp_control_notify_callback(int type, int kind, int index, const char *name);

/* ---- Kinds. ---- */
int upnp_cp_isValidDeviceType(int kind);
int upnp_cp_isValidMediaDeviceType(int kind);
/* "server", "renderer", "ruis" or "unknown". */
const char *upnp_cp_kind_name(int kind);

/* ---- Iteration (each gives an index or -1; start with -1). ---- */
int upnp_control_get_next_server_index(int index);
int upnp_control_get_previous_server_index(int index);
int upnp_control_get_next_renderer_index(int index);
int upnp_control_get_previous_renderer_index(int index);
int upnp_control_get_next_ruis_index(int index);
int upnp_control_get_device_index(const char *udn, int kind);

/* ---- Queries. ---- */
int upnp_control_get_device_info(int index, char *name, unsigned int name_size, char *udn, unsigned int udn_size,
                                 int kind);
int upnp_control_get_device_name(int index, char *buffer, unsigned int size, int kind);
int upnp_control_get_urlbase(int index, char *buffer, unsigned int size, int kind);
/* The stored location (description URL) of the device. */
int upnp_control_get_location(int index, char *buffer, unsigned int size, int kind);
/* Device state, or -1 for an index outside the table or an unknown kind. */
int upnp_control_get_device_state(int index, int kind);
/* Bits of the services the device's kind record holds (0 without one). */
unsigned int upnp_control_get_device_services(int index, int kind);
int upnp_cp_make_absolute_url(int index, const char *url, char *buffer, unsigned int size, int kind);
int upnp_cp_get_absolute_url(const char *base, const char *url, char *buffer, unsigned int size);
/* Joins url to the base held in buffer (see the .cpp for the rules). */
int makeAbsoluteURLFromBase(const char *url, char *buffer, unsigned int size);
int upnp_control_get_device_iconlist(int index, upnp_xml_node **tree_out, int kind);
int upnp_control_get_device_attributes(int index, const char *tag, upnp_xml_node **tree_out, int kind);
int upnp_control_get_device_attribute(int index, const char *tag, char *buffer, unsigned int size, int kind);
int upnp_control_get_upnp_version(int index, int kind, int *major_out, int *minor_out);
int upnp_control_get_regurl(int index, char *buffer, unsigned int size);
int upnp_cp_isValidIndex(int index, int kind);
int upnp_cp_is_local_device(int index, int kind);
int has_playlist_capability(int index);
int upnp_cp_get_renderer_resolution(int index, unsigned int *width_out, unsigned int *height_out);
int isMyDevice(int index, int kind, int take_lock, int *result_out);
int getMyDevice(int kind, int take_lock);
int upnp_get_ProtocolInfo(int index, int kind, char **text_out);
int upnp_cp_device_supports_types(int index, int kind, const char *types, int all);
int upnp_cp_is_home_network_http_url(const char *url);
int upnp_cp_supports_types(const char *protocol_info, const char *types, int all);
/* Broken-action mask and polled flag of a device (0 when unknown). */
unsigned int upnp_cp_get_broken_actions(int index, int kind);
int upnp_cp_is_polled(int index, int kind);

/* ---- Maintenance. ---- */
uint64_t upnp_cp_renew_device_lists(int revalidation);
int upnp_control_enable_auto_subscription(int index, int on, int kind);
/* After a failed action: invalidates an accessible device. */
void invalidateDevice(int index, int kind);
/* One validation pass over the table of kind at `now` (seconds on the
 * control point's clock, see upnp_cp_now). */
void validateDevices(uint64_t now, int kind);
/* Seconds on the control point's clock. */
uint64_t upnp_cp_now(void);
/* Refreshes the recorded local network prefixes. */
void upnp_cp_update_network_prefixes(void);

/* ---- Observing the SSDP entry points (tests, tools): called first on every
 * upnp_control_add_device (added 1) and upnp_control_delete_device (added 0,
 * with `found` its result), outside the lock. None to clear. */
typedef void (*upnp_cp_call_observer)(int added, const char *location, const char *udn, const char *interface,
                                      unsigned int validity_seconds, int kind, int found);
void upnp_cp_set_call_observer(upnp_cp_call_observer observer);

#ifdef __cplusplus
}
#endif

#endif
