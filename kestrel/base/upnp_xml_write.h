#ifndef KESTREL_BASE_UPNP_XML_WRITE_H
#define KESTREL_BASE_UPNP_XML_WRITE_H

/* Writing trees back to text. Each writer returns a new growable string
 * (started at 1024 bytes) that the caller frees, or none when memory ran out
 * ("Out of memory dumping XML" is then logged). The pretty flag indents by
 * four spaces per level with one element per line; the single flag writes
 * only the given node, not its following siblings. */

#include "base/upnp_string.h"
#include "base/upnp_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Names, values and attribute texts written as they are (no escaping). */
upnp_string *upnp_xml_tree_to_string(const upnp_xml_node *tree, int pretty, int single);
/* Values and attribute texts escaped. */
upnp_string *upnp_xml_tree_to_string_valid(const upnp_xml_node *tree, int pretty, int single);
/* Escaped and DIDL-Lite compliant (see upnp_xml_compliant.h): nameless
 * elements, conflicting "desc" elements, empty attributes and empty elements
 * are left out, and values follow the per-property rules. */
upnp_string *upnp_xml_tree_to_compliant_string(const upnp_xml_node *tree, int pretty, int single);
/* upnp_xml_tree_to_string(tree, pretty, 0). */
upnp_string *upnp_xml_node_to_string(const upnp_xml_node *tree, int pretty);

/* The writer behind them: appends `node` (and its following siblings unless
 * `single`) to `out` at indentation `indent`. Returns the string, or none
 * when memory ran out (the string is then freed). */
upnp_string *dumpXml(upnp_string *out, const upnp_xml_node *node, int indent, int pretty, int single,
                     int compliant, int escape);

#ifdef __cplusplus
}
#endif

#endif
