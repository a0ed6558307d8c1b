#ifndef KESTREL_NMC_LM_DMRCP_SINK_H
#define KESTREL_NMC_LM_DMRCP_SINK_H

/* The renderer ioctl "DMRGetSinkProtocolInfo": the sink protocolInfo list
 * of the context's renderer (comma separated, as its ConnectionManager
 * gives it, with the entries added for its model), so that a host can say
 * which formats a renderer takes. 3 when the context points at no listed
 * renderer, 10 when the list does not fit the buffer, the renderer's error
 * when it cannot be asked. Tried by lm_dmrcp_ioctl after the renderer
 * side's own rows. */

#include "nmc/lm_nmc_ioctl.h"

extern const nmc_ioctl_row nmc_dmrcp_sink_ioctls[];

#endif
