#ifndef KESTREL_NMC_LM_NMC_KEYWORDS_H
#define KESTREL_NMC_LM_NMC_KEYWORDS_H

/* Renderer update texts in keyword notification mode: one keyword per row
 * whose markers the text contains, in table order. */

#include <string>
#include <vector>

std::vector<std::string> nmc_update_keywords(const char *text);
/* Transport state code of a name ("STOPPED" 0 ... "NO_MEDIA_PRESENT" 6),
 * -1 for none or an unknown name. */
int nmc_transport_state_code(const char *name);

#endif
