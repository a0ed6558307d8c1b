#ifndef KESTREL_SSDP_UPNP_CONTROL_RECORD_H
#define KESTREL_SSDP_UPNP_CONTROL_RECORD_H

/* The device table's two entry points as SSDP calls them (defined by the
 * control point's device table, cp/upnp_cp.h), and a recording of those
 * calls for the SSDP tests, benchmark and fuzz target: a bounded table of the
 * devices announced (per kind) and a bounded ring of the calls. The
 * recording is not part of the library; it is built from
 * tests/ssdp/ssdp_control_record.cpp into the static library
 * ssdp_control_record and watches the entry points through the table's call
 * observer. */

#ifdef __cplusplus
extern "C" {
#endif

/* An "alive" or a search response for a device of `kind` (1 media server,
 * 2 media renderer, 3 remote-UI server); `interface` is "address:port" of
 * the interface it arrived on. */
void upnp_control_add_device(const char *location, const char *udn, const char *interface,
                             unsigned int validity_seconds, int kind);
/* A "byebye": 1 when a device of that kind and UDN was known (it is
 * forgotten), else 0. */
int upnp_control_delete_device(const char *udn, int kind);

/* ---- Reading the record (tests, benchmarks). Any of these functions
 * starts the recording. ---- */

/* Devices kept per kind, and calls kept in the ring. */
#define UPNP_RECORD_MAX_DEVICES 64
#define UPNP_RECORD_MAX_CALLS 1024
/* Texts longer than these (with the zero) are cut. */
#define UPNP_RECORD_LOCATION_SIZE 512
#define UPNP_RECORD_UDN_SIZE 160
#define UPNP_RECORD_INTERFACE_SIZE 40

typedef struct upnp_control_call {
  int added; /* 1 add, 0 delete */
  int kind;
  int found; /* delete: what it returned */
  unsigned int validity_seconds;
  unsigned long long sequence; /* 1, 2, ... over all calls since the reset */
  char location[UPNP_RECORD_LOCATION_SIZE];
  char udn[UPNP_RECORD_UDN_SIZE];
  char interface[UPNP_RECORD_INTERFACE_SIZE];
} upnp_control_call;

/* Forgets every device and call. */
void upnp_control_record_reset(void);
/* Copies the kept calls with a sequence above `after`, oldest first, into
 * `out` (at most `max`); returns their number. */
int upnp_control_record_calls(unsigned long long after, upnp_control_call *out, int max);
/* Calls since the reset (also those no longer in the ring). */
unsigned long long upnp_control_record_call_count(void);
/* Devices of `kind` known now. */
int upnp_control_record_device_count(int kind);
/* Adds refused because the table of that kind was full. */
unsigned long long upnp_control_record_refused(void);
/* Called (outside the record's lock) after every add or delete; none to
 * clear. */
typedef void (*upnp_control_record_listener)(const upnp_control_call *call);
void upnp_control_record_set_listener(upnp_control_record_listener listener);

#ifdef __cplusplus
}
#endif

#endif
