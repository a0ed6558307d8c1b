#ifndef KESTREL_CP_UPNP_CP_INTERNAL_H
#define KESTREL_CP_UPNP_CP_INTERNAL_H

/* Records and shared state of the device table, internal to kestrel/cp. All
 * of it is guarded by the control-point lock. */

#include <stdint.h>

#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"

struct upnp_cp_service {
  const char *control_url; /* inside the description tree */
  const char *event_url;
  const char *scpd_url;
  char *sid;
  upnp_xml_node *scpd;
  uint32_t sequence;      /* last accepted event sequence; all ones when none */
  uint64_t subscribed_at; /* seconds on the control point clock; 0 = not subscribed */
  uint32_t quirks;        /* bit 0: a repeated sequence number is accepted */
  /* Event subscription (cp/upnp_cp_eventing.h). */
  uint32_t synthetic_count; /* synthetic events injected; added to real sequence numbers */
  int64_t timeout;          /* seconds granted by the device */
};

struct upnp_cp_server_record {
  upnp_cp_service cds;
  const char *cm_control_url;
  const char *registrar_control_url;
  char *protocol_info;
  int playlist;
};

struct upnp_cp_renderer_record {
  upnp_cp_service avt;
  upnp_cp_service rc;
  const char *cm_control_url;
  char *protocol_info;
  uint32_t transport_state;
  uint16_t max_width;
  uint16_t max_height;
};

struct upnp_cp_ruis_record {
  const char *control_url;
};

struct upnp_cp_device {
  char *udn;
  char *location;
  char *urlbase;
  char *interface;
  char *name;
  uint32_t state;
  upnp_xml_node *description;
  upnp_xml_node *device_node;
  int64_t validity;
  uint64_t reference_ms; /* control point clock, milliseconds */
  uint32_t broken_actions;
  uint32_t kind;
  void *kind_record; /* one of the three records above, by kind */
  int polled;
  int local;
  int subscribed;
};

struct upnp_cp_table {
  upnp_cp_device *slots;
  int size;
};

/* The three tables, index kind - 1. */
extern upnp_cp_table g_cp_tables[3];

/* Milliseconds on the control point's clock (never 0). */
uint64_t cp_now_ms(void);

/* The table of a kind, or none. */
upnp_cp_table *cp_table(int kind);
/* The slot at index of kind, or none (no state check). */
upnp_cp_device *cp_slot(int index, int kind);
int cp_is_usable(const upnp_cp_device *device);
/* Lookup behind the queries (lock held): result code and the record. */
int getDeviceInfo(int index, int kind, int need_kind_record, int must_be_usable, upnp_cp_device **record_out);

/* Frees the kind record of a device of kind. */
void cp_free_kind_record(void *record, uint32_t kind);
/* Frees everything but the UDN; state 0. */
void cp_free_device_data(upnp_cp_device *device);
/* Frees everything including the UDN. */
void cp_free_device(upnp_cp_device *device);
/* Logs, frees all but the UDN and queues a "removed" event (lock held). */
void cp_delete_device_locked(upnp_cp_device *device, int index);

/* The SSDP entry points' work (see upnp_cp_ssdp_entry.cpp). */
void cp_add_device(const char *location, const char *udn, const char *interface, unsigned int validity_seconds,
                   int kind);
int cp_delete_device(const char *udn, int kind);

/* Queues an event (lock held). */
void cp_notify_locked(int type, int kind, int index, const char *name);

/* Starts the loader for a slot (lock held). */
void cp_start_loader(int kind, int index);
/* Starts a verifier for a slot (lock held). */
void cp_start_verifier(int kind, int index);

/* Marks a usable device invalidated for the revalidation time (lock held):
 * it goes unless it answers a search in that time. 1 when the caller is to
 * send the search (M_Search(1)) once the lock is released. */
int cp_invalidate_locked(upnp_cp_device *device);

/* Worker accounting: threads of the table that exit must wait for. */
void cp_worker_started(void);
void cp_worker_ended(void);

/* Expected invalidation time (seconds, 0 = none). */
extern uint64_t g_cp_expected_invalidation;

/* Splits an http URL: host into host (size bytes) and the port (80 when
 * none). 1 when the URL is an http URL with a sane host and port. */
int cp_split_http_url(const char *url, char *host, unsigned int host_size, unsigned int *port);

/* Description fields (pure functions over a parsed tree; fuzzed). */
struct upnp_cp_description_fields {
  upnp_xml_node *device_node; /* the device whose UDN matches */
  char name[UPNP_CP_MAX_NAME * 4 + 1];
  int name_from_friendly; /* 0 when the model name or "Unknown" was used */
};
/* Finds the device node of udn (the first device, then embedded devices)
 * and its name. 0 when found, 9 when there is no device node, 1 when the UDN
 * does not match any. */
int cp_find_device_node(upnp_xml_node *root, const char *udn, int kind, upnp_cp_description_fields *fields);
/* The URL base from the description's URLBase or the location; an accounted
 * copy or none. */
char *cp_url_base(upnp_xml_node *root, const char *location);
/* Cuts a text to at most max characters of UTF-8 (whole sequences). */
void cp_cut_utf8(char *text, unsigned int max_chars);

/* Service fetching callback of the kind record builder: fetch and parse the
 * text at url, or none. */
typedef upnp_xml_node *(*cp_fetch_xml_fn)(const char *url, void *context);
/* Builds the kind record of kind from the device node; none when the
 * description is incomplete (each missing part logged). `where` names the
 * device in logs: udn, location. */
void *cp_build_kind_record(upnp_xml_node *device_node, int kind, const char *urlbase, const char *udn,
                           const char *location, cp_fetch_xml_fn fetch, void *context);
/* Bits of the services a kind record holds. */
unsigned int cp_kind_record_services(const void *record, uint32_t kind);
/* Applies the model quirks to a renderer. */
void cp_apply_renderer_quirks(upnp_cp_device *device);

/* Bounded fetch of a description: body (accounted) or none. *too_large (when
 * given) tells whether it was refused for passing UPNP_CP_MAX_DESCRIPTION_SIZE. */
char *cp_fetch_text(const char *url, int *too_large = nullptr);

/* The network lock around the local network prefixes. */
void cp_net_lock_init(void);
void cp_net_lock_exit(void);

/* Joins into buffer. */
int cp_join_url(const char *base, const char *url, char *buffer, unsigned int size);

#endif
