#ifndef KESTREL_NMC_LM_NMC_MODES_H
#define KESTREL_NMC_LM_NMC_MODES_H

/* NMC modes: 128 Standalone, 8 Stationary, 1 Mobile Direct, 2 Mobile
 * Remote, 0 Mobile Offline, 64 Mobile Discovery (the initial mode). No
 * stationary instance is ever found by this process, so a request for
 * Mobile Remote falls back to Mobile Direct. */

#include <stdint.h>

#define NMC_MODE_STANDALONE 128u
#define NMC_MODE_STATIONARY 8u
#define NMC_MODE_MOBILE_DIRECT 1u
#define NMC_MODE_MOBILE_REMOTE 2u
#define NMC_MODE_MOBILE_OFFLINE 0u
#define NMC_MODE_MOBILE_DISCOVERY 64u

/* The mode and the requested mode live as long as the process: a mode set
 * while the controller is stopped holds for its next start. */
uint32_t nmc_mode(void);
uint32_t nmc_requested_mode(void);
/* Sets the mode by one of the accepted names; false for any other text. */
bool nmc_set_mode_by_name(const char *name);
/* Sets the mode by value (after the Mobile Remote fallback). */
void nmc_set_mode(uint32_t mode);
/* The mode's name; none for a value outside the table. */
const char *nmc_mode_name(uint32_t mode);
/* The mode the `nmcmode` property names: "0" 128, "1" 8, "2" 1, "3" 2,
 * anything else 128. */
uint32_t nmc_mode_of_property(const char *value);

#endif
