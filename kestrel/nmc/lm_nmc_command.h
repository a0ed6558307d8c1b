#ifndef KESTREL_NMC_LM_NMC_COMMAND_H
#define KESTREL_NMC_LM_NMC_COMMAND_H

/* Building the XML command texts the controller hands its interpreter. Every
 * attribute and parameter value is XML-escaped here; nothing is formatted
 * into a command raw. Names are the controller's own constants. */

#include <string>
#include <utility>
#include <vector>

using nmc_command_pairs = std::vector<std::pair<std::string, std::string>>;

/* "<name a="v" ...><p>v</p>...</name>" ("<name a="v"/>" without params). */
std::string nmc_command_text(const char *name, const nmc_command_pairs &attributes, const nmc_command_pairs &params);
/* Whether text is a plain XML element name (letters, digits, "_", "-", ".",
 * ":"; not starting with a digit, "-" or "."), as a caller-given element
 * name must be before it is written as a tag. */
bool nmc_is_element_name(const char *text);

#endif
