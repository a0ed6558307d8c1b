#ifndef KESTREL_CP_UPNP_CP_RES_INTERNAL_H
#define KESTREL_CP_UPNP_CP_RES_INTERNAL_H

/* Helpers shared by the resource-selection files (kestrel/cp/upnp_cp_res*). */

#include <stddef.h>

#include "base/upnp_xml.h"

/* Decimal number at text (at most nine digits, at most `limit`); false when
 * there is none or it is out of bounds. *end_out (when given) receives the
 * first character after the digits. */
bool res_parse_decimal(const char *text, unsigned long limit, unsigned long *value_out, const char **end_out);
/* The value after parameter `name` (e.g. "rate=") where the name starts the
 * text or follows ';' or ':'; none when absent. */
const char *res_find_param(const char *text, const char *name);
/* Start (*value_out) and length of the "DLNA.ORG_PN=" value (to ';' or ',');
 * *value_out none when there is none. */
size_t res_profile_span(const char *protocol_info, const char **value_out);
/* The first item (else container) element of a DIDL-Lite tree, or none. */
upnp_xml_node *res_find_object(upnp_xml_node *didl);
/* HEAD request: true when the URL answered with a 2xx status within the time
 * bound; *length_out (when given) receives its Content-Length (0 when none).
 * Goes through the installed information-request function. */
bool res_head_request(const char *url, long long *length_out);
/* Replaces the information request of the scaled-up picture (none: the HTTP
 * client's HEAD request again). The fuzz target installs a stand-in so that
 * no input reaches the network. */
typedef bool (*res_head_function)(const char *url, long long *length_out);
void res_set_head_function(res_head_function function);

#endif
