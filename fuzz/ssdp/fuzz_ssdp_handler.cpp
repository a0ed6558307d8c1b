// libFuzzer target: SSDP_cp_handler with arbitrary datagrams (cut at 1024
// bytes and terminated, as the receivers hand them on). Invariants: whatever
// reaches the device table has a UDN without "::", a location without line
// breaks, a validity of at least 60 s, and the interface of the entry; the
// handler itself keeps no memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "ssdp/upnp_control_record.h"
#include "ssdp/upnp_ssdp.h"
#include "ssdp/upnp_ssdp_interfaces.h"

namespace {

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void on_call(const upnp_control_call *call) {
  check(call->udn[0] != '\0', "empty UDN");
  check(std::strstr(call->udn, "::") == nullptr, "UDN not cut at ::");
  check(call->kind >= 1 && call->kind <= 3, "kind");
  if (call->added) {
    check(call->location[0] != '\0', "empty location");
    check(std::strpbrk(call->location, "\r\n") == nullptr, "line break in location");
    check(call->validity_seconds >= 60, "validity below 60 s");
    check(std::strcmp(call->interface, "192.168.1.5:9020") == 0, "interface");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    upnp_mem_init();
    upnp_control_record_set_listener(on_call);
    upnp_ssdp_enable_search_remoteui_server(1);
    return true;
  }();
  (void)ready;
  static upnp_interface_entry entry;
  std::strcpy(entry.address, "192.168.1.5");
  entry.http_port = 9020;

  char message[SSDP_MAX_DATAGRAM + 1];
  size_t length = size < SSDP_MAX_DATAGRAM ? size : SSDP_MAX_DATAGRAM;
  std::memcpy(message, data, length);
  message[length] = '\0';
  int64_t before = upnp_mem_used();
  SSDP_cp_handler(message, &entry, "192.168.1.20", 1900);
  check(upnp_mem_used() == before, "memory kept by the handler");
  if (upnp_control_record_call_count() > 100000) upnp_control_record_reset();
  return 0;
}
