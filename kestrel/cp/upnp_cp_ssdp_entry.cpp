// The two entry points through which SSDP hands announcements and byebyes
// to the device table.
#include "cp/upnp_cp_internal.h"

extern "C" void upnp_control_add_device(const char *location, const char *udn, const char *interface,
                                        unsigned int validity_seconds, int kind) {
  cp_add_device(location, udn, interface, validity_seconds, kind);
}

extern "C" int upnp_control_delete_device(const char *udn, int kind) { return cp_delete_device(udn, kind); }
