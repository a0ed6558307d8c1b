#ifndef KESTREL_NMC_LM_NMC_DEVICES_H
#define KESTREL_NMC_LM_NMC_DEVICES_H

/* The controller's server list and renderer list, sorted by device name
 * (case-insensitive, UTF-8; equal names keep their arrival order). A device
 * whose removal has begun is taken out of its list by the notifier thread,
 * which keeps it as the one device under removal of its side, reachable by
 * index, UDN and NMC_REMOVED_DEVICE_INDEX, until every context was told.
 *
 * Entries are never handed out: lookups copy what the caller needs under the
 * side's lock. */

#include <stdint.h>

#include <string>
#include <vector>

#define NMC_SIDE_SERVER 0
#define NMC_SIDE_RENDERER 1
/* The index that names the device under removal. */
#define NMC_REMOVED_DEVICE_INDEX 0x7FFFFFFE
/* How long an add waits for the removal of the same side (ms). */
#define NMC_ADD_WAIT_BOUND_MS 10000u

struct nmc_device_view {
  int index = -1;
  std::string name;
  std::string udn;
  bool removed = false;
};

void nmc_devices_init(void);
/* Frees both lists and any device under removal. */
void nmc_devices_exit(void);

enum nmc_add_result { NMC_ADD_ADDED, NMC_ADD_DUPLICATE, NMC_ADD_INVALID, NMC_ADD_NO_MEMORY, NMC_ADD_GAVE_UP };
/* Steps 1 to 4 of adding a device: waits (in 50 ms steps, at most
 * NMC_ADD_WAIT_BOUND_MS, never once the controller terminates) while a
 * device of this side is under removal or the UDN is listed as removed;
 * refuses duplicates and missing parameters; inserts sorted. */
nmc_add_result nmc_devices_add(int side, int index, const char *udn, const char *name);
/* Marks the listed device removed; false when the index is not listed (or
 * already marked). Fills the view when given. */
bool nmc_devices_mark_removed(int side, int index, nmc_device_view *view);
/* The device by index (the device under removal first; the special index
 * names it); false when unknown. */
bool nmc_devices_find(int side, int index, nmc_device_view *view);
/* The listed (not removed) device with this UDN, or under removal. */
bool nmc_devices_find_udn(int side, const char *udn, nmc_device_view *view);
/* Position of the index in the list, -1 when not listed. */
int nmc_devices_position(int side, int index);
/* Takes the device out of its list and keeps it as the one under removal;
 * false when not listed. */
bool nmc_devices_begin_removal(int side, int index);
/* Frees the device under removal. */
void nmc_devices_end_removal(int side);
/* Copy of the list in order. */
std::vector<nmc_device_view> nmc_devices_list(int side);

#endif
