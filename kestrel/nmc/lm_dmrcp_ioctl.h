#ifndef KESTREL_NMC_LM_DMRCP_IOCTL_H
#define KESTREL_NMC_LM_DMRCP_IOCTL_H

/* The renderer side's own ioctl rows ("DMRCanPlay" and the slideshow
 * times), tried by lm_dmrcp_ioctl after the notification-mode rows, and
 * the hand-over of unknown commands to a local renderer. */

#include "nmc/lm_nmc_ioctl.h"

extern const nmc_ioctl_row nmc_dmrcp_ioctls[];

/* The renderer ioctl after the renderer and common tables answered 9: a
 * context that points at a local renderer hands the command to its ioctl
 * hook; otherwise 9. */
lm_nmc_result_t nmc_dmrcp_ioctl_local(uint32_t context, const char *command, uint32_t size, char *out);

/* Back to 3 s and 20 s (the controller's start). */
void nmc_dmr_reset_slideshow_defaults(void);

#endif
