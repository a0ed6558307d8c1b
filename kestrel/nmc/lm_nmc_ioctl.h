#ifndef KESTREL_NMC_LM_NMC_IOCTL_H
#define KESTREL_NMC_LM_NMC_IOCTL_H

/* Ioctl tables: a command name, its identifier, whether it needs an
 * argument, and the handler(context, argument, output size, output). */

#include <stdint.h>

#include "nmc/lm_nmc.h"

typedef lm_nmc_result_t (*nmc_ioctl_handler)(uint32_t context, const char *argument, uint32_t size, char *out);

struct nmc_ioctl_row {
  const char *name;
  uint32_t id;
  bool needs_argument;
  nmc_ioctl_handler handler;
};

/* The common table (lm_nmc_ioctl_common.cpp) and the renderer table's
 * notification-mode rows (lm_nmc_ioctl_dmr.cpp); each ends with a row
 * without a name. */
extern const nmc_ioctl_row nmc_common_ioctls[];
extern const nmc_ioctl_row nmc_renderer_ioctls[];
/* The server table (lm_dmscp_ioctl.cpp). */
extern const nmc_ioctl_row nmc_server_ioctls[];

/* Runs command against one table by the lookup rules: 2 for a null or empty
 * command, 9 when no row matches, 2 when a row that needs an argument has
 * none, 11 when the row needs a running controller and it cannot run. The
 * output buffer is cleared first. */
lm_nmc_result_t nmc_ioctl_run(const nmc_ioctl_row *table, uint32_t context, const char *command, uint32_t size,
                              char *out);

#endif
