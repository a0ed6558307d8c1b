#ifndef KESTREL_NMC_LM_NMC_DEVICE_EVENTS_H
#define KESTREL_NMC_LM_NMC_DEVICE_EVENTS_H

/* Adding and removing a device of the controller's lists, with the
 * notifications, the automatic event subscription and the queue identifier
 * that go with it. side: NMC_SIDE_SERVER or NMC_SIDE_RENDERER. */

void nmc_device_added(int side, int index, const char *udn, const char *name);
void nmc_device_removed(int side, int index);

#endif
