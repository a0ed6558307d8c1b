#ifndef KESTREL_BASE_UPNP_XML_COMPLIANT_H
#define KESTREL_BASE_UPNP_XML_COMPLIANT_H

/* DIDL-Lite compliance: the length limits and value forms that the compliant
 * writer applies to element values and attribute texts, by property name. */

#include <stdint.h>

#include "base/upnp_string.h"

#ifdef __cplusplus
extern "C" {
#endif

enum upnp_xml_exceed_rule {
  UPNP_XML_CUT = 0,        /* over the maximum: the first maximum bytes */
  UPNP_XML_CUT_MARK = 1,   /* over the maximum: maximum - 3 bytes and "..." */
  UPNP_XML_DROP = 2,       /* over the maximum: nothing */
  UPNP_XML_TIME = 3,       /* H:M:S[.F] written as "%02d:%02d:%02d" */
  UPNP_XML_DATE = 4,       /* only values starting YYYY-MM-DD */
  UPNP_XML_BOOLEAN = 5,    /* "0" or "1" */
  UPNP_XML_PROTOCOL_INFO = 6, /* fourth field reduced to name=value parameters */
  UPNP_XML_WHOLE = 7          /* never cut: a URL cut short points nowhere */
};

typedef struct upnp_xml_exceed_entry {
  const char *name;
  uint32_t maximum; /* bytes; 0 for the value forms */
  enum upnp_xml_exceed_rule rule;
} upnp_xml_exceed_entry;

/* The table, ending with the entry for every other name (name none). */
extern const upnp_xml_exceed_entry didlExceedTable[];

/* The entry that applies to a property name. */
const upnp_xml_exceed_entry *upnp_xml_exceed_lookup(const char *property);

/* Appends `value` for `property` under the rules (escaped when `escape` is
 * set; lengths count the written bytes, and a cut never splits an entity or
 * a UTF-8 sequence). An empty property name appends the value unchanged.
 * Returns the string (possibly unchanged: the value was dropped), or none
 * when memory ran out (the string is then freed). */
upnp_string *addCompliantString(upnp_string *out, const char *property, const char *value, int escape);

#ifdef __cplusplus
}
#endif

#endif
