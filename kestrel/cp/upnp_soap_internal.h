#ifndef KESTREL_CP_UPNP_SOAP_INTERNAL_H
#define KESTREL_CP_UPNP_SOAP_INTERNAL_H

/* Internals of the SOAP actions: the device access that invocation resolves
 * devices through, envelope building and out-argument reading. */

#include <stddef.h>
#include <stdint.h>

#include "base/upnp_string.h"
#include "base/upnp_xml.h"
#include "cp/upnp_soap.h"

/* What invocation needs of one device while the device-table lock is held.
 * Texts and trees point into the table's record and are valid only until
 * unlock. */
struct upnp_soap_device_view {
  const char *name;              /* friendly name (for log lines) */
  const char *url_base;          /* without trailing '/'; none when unknown */
  const char *control_url;       /* of the requested service; none when the device lacks it */
  const upnp_xml_node *scpd;     /* parsed SCPD of the requested service, or none */
  int has_service;               /* the device's kind record holds the requested service */
  uint32_t broken_actions;       /* broken-action mask */
  int local;                     /* the device runs on this machine */
  const char *interface;         /* "address:port" of the local server the device calls back */
};

/* The device table's side. lock returns 0 when the table's lock is unavailable.
 * lookup (called with the lock held) fills the view of a usable device for
 * `service` (0: none) and returns 0 or a result code (1, 2, 3 ...).
 * invalidate marks a device that did not answer (takes the lock itself). */
struct upnp_soap_device_access {
  int (*lock)(void);
  void (*unlock)(void);
  int (*lookup)(int index, int kind, unsigned service, upnp_soap_device_view *view);
  void (*invalidate)(int index, int kind);
};

/* The device table's access, used unless another one is set. */
extern const upnp_soap_device_access g_upnp_soap_device_table;
/* Replaces the access (tests stand in for the table); none restores the
 * device table's. */
void upnp_soap_set_device_access(const upnp_soap_device_access *access);

/* The target of an invocation after resolution (owned copies). */
struct upnp_soap_target {
  char *base;
  char *rest;
  char *name;
};
void upnp_soap_target_free(upnp_soap_target *target);

/* Resolves device and service: lock, lookup, action list of the SCPD for
 * services 2, 4 and 8, control URL, broken-action bit, target split. */
int upnp_soap_resolve(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                      upnp_soap_target *target);
/* Sends the envelope to a resolved target: SOAPACTION, retry after a fast
 * failure. The reply or none. `call` numbers the log lines. */
upnp_string *upnp_soap_post(const upnp_soap_target *target, unsigned service, const char *action,
                            const char *envelope, unsigned long long call);
/* "\"urn:schemas-upnp-org:service:AVTransport:1#Play\"" (bare action for an
 * unknown service). A new accounted text, or none. */
char *upnp_soap_action_header(unsigned service, const char *action);
/* "AVTransport" ... for a service bit; none when unknown. */
const char *upnp_soap_service_name(unsigned service);
/* Whether an SCPD's actionList names `action`. */
int upnp_soap_scpd_has_action(const upnp_xml_node *scpd, const char *action);
/* Runs `fn` on a device's SCPD of `service` under the lock (fn gets none
 * when the device has no SCPD for it). Returns the lookup's code, or fn's. */
int upnp_soap_with_scpd(int index, int kind, unsigned service,
                        int (*fn)(const upnp_xml_node *scpd, void *context), void *context);

/* Runs `fn` on the view of a usable device (service 0) under the lock;
 * the lookup's code, or fn's. */
int upnp_soap_with_view(int index, int kind, int (*fn)(const upnp_soap_device_view *view, void *context),
                        void *context);

/* Transport URI translation. The address text size (dotted IPv4 + zero). */
#define UPNP_SOAP_ADDRESS_SIZE 17
/* When uri names one of local_addresses (followed by a non-digit) and that
 * differs from renderer_side, new texts with every occurrence replaced go to
 * *uri_out and *metadata_out and 1 is returned; 0 when nothing changes, -1
 * when memory ran out. */
int upnp_soap_translate_addresses(const char *uri, const char *metadata, const char *const *local_addresses,
                                  size_t count, const char *renderer_side, upnp_string **uri_out,
                                  upnp_string **metadata_out);
/* The local address on a renderer's network (from the callback interface it
 * was found on); empty for a renderer on this machine. */
int upnp_soap_renderer_side_address(int index, char *buffer, size_t size);
/* The addresses of the stack's interfaces now. */
int upnp_soap_local_addresses(char (*out)[UPNP_SOAP_ADDRESS_SIZE], int max);

/* One in-argument: name and plain value (escaped when written). */
struct upnp_soap_arg {
  const char *name;
  const char *value;
};
/* A whole envelope for `action` of `service` with the arguments in order. */
upnp_string *upnp_soap_envelope(unsigned service, const char *action, const upnp_soap_arg *args, size_t count);
/* Builds the envelope and invokes it; reply_out as in invokeSoapAction. */
int upnp_soap_call(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                   const upnp_soap_arg *args, size_t count, upnp_string **reply_out);

/* Out-arguments of a parsed reply: the value of the first element named
 * exactly `name`. */
const char *upnp_soap_out_text(upnp_xml_node *reply, const char *name);
/* Copy of the value into *out ("" when missing and `empty_ok`); 7 when it is
 * missing and not `empty_ok`, 8 when memory ran out. */
int upnp_soap_out_copy(upnp_xml_node *reply, const char *name, char **out, int empty_ok);
/* Integer: decimal value, 0 when missing. */
int upnp_soap_out_int(upnp_xml_node *reply, const char *name);
/* Digit: must begin with a decimal digit, else 7. */
int upnp_soap_out_digit(upnp_xml_node *reply, const char *name, unsigned *out);
/* Boolean; an invalid or missing value gives false and 7. */
int upnp_soap_out_bool(upnp_xml_node *reply, const char *name, int *out);

#endif
