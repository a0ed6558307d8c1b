// Internal: whether a cancel flag made by lm_nmc_cancel_create was set.
#ifndef KESTREL_NMC_LM_NMC_CANCEL_H
#define KESTREL_NMC_LM_NMC_CANCEL_H

#include <stdint.h>

// False for flag 0 (a call that cannot be cancelled) and for a flag that
// is unknown or was deleted.
bool nmc_cancel_is_set(uint32_t cancel);

#endif
