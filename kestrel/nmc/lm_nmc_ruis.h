#ifndef KESTREL_NMC_LM_NMC_RUIS_H
#define KESTREL_NMC_LM_NMC_RUIS_H

/* The remote-UI server list: the remote-UI servers the control point
 * reports through the network callback, in arrival order, one entry per
 * UDN. Kept from the manager start to the manager exit; the web API and the
 * media object model read it by copy. */

#include <string>
#include <vector>

struct nmc_ruis_entry {
  int index = -1;
  std::string udn;
  std::string name;
};

/* Opens the list (empty). */
void nmc_ruis_start(void);
/* Empties and closes it; later reports are ignored until the next start. */
void nmc_ruis_stop(void);
/* A remote-UI server was added (its UDN read from the control point) or
 * removed (by index). Duplicates by UDN and reports while closed are
 * ignored. */
void nmc_ruis_added(int index, const char *name);
void nmc_ruis_removed(int index);
/* Copy of the list. */
std::vector<nmc_ruis_entry> nmc_ruis_list(void);

#endif
