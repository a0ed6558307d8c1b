// Address translation of transport URIs: a URI that names this machine by
// the address of one network is rewritten to the address on the renderer's
// network before the renderer is asked to fetch it.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_soap_internal.h"
#include "ssdp/upnp_ssdp_interfaces.h"

namespace {

// The first of `addresses` that occurs in text followed by a non-digit.
const char *find_local(const char *text, const char *const *addresses, size_t count) {
  if (!text) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    size_t n = std::strlen(addresses[i]);
    if (n == 0) continue;
    for (const char *p = std::strstr(text, addresses[i]); p; p = std::strstr(p + 1, addresses[i])) {
      bool starts = p == text || !(std::isdigit(static_cast<unsigned char>(p[-1])) || p[-1] == '.');
      if (starts && !std::isdigit(static_cast<unsigned char>(p[n]))) return addresses[i];
    }
  }
  return nullptr;
}

upnp_string *replaced(const char *text, const char *from, const char *to) {
  upnp_string *s = upnp_string_create(text ? text : "", 0);
  return s ? upnp_string_replace(s, from, to) : nullptr;
}

}  // namespace

int upnp_soap_translate_addresses(const char *uri, const char *metadata, const char *const *local_addresses,
                                  size_t count, const char *renderer_side, upnp_string **uri_out,
                                  upnp_string **metadata_out) {
  *uri_out = nullptr;
  *metadata_out = nullptr;
  if (!uri || !renderer_side || !*renderer_side) return 0;
  const char *found = find_local(uri, local_addresses, count);
  if (!found || std::strcmp(found, renderer_side) == 0) return 0;
  std::string from = found;  // `found` may point into the caller's list only
  *uri_out = replaced(uri, from.c_str(), renderer_side);
  if (metadata) *metadata_out = replaced(metadata, from.c_str(), renderer_side);
  if (!*uri_out || (metadata && !*metadata_out)) {
    upnp_string_safe_free(uri_out);
    upnp_string_safe_free(metadata_out);
    return -1;
  }
  return 1;
}

int upnp_soap_renderer_side_address(int index, char *buffer, size_t size) {
  buffer[0] = '\0';
  struct Copy {
    char *buffer;
    size_t size;
    int local;
  } copy{buffer, size, 0};
  int rc = upnp_soap_with_view(index, UPNP_KIND_RENDERER, [](const upnp_soap_device_view *view, void *context) {
    Copy *c = static_cast<Copy *>(context);
    c->local = view->local;
    const char *iface = view->interface ? view->interface : "";
    size_t n = std::strcspn(iface, ":");
    if (n >= c->size) n = 0;
    std::memcpy(c->buffer, iface, n);
    c->buffer[n] = '\0';
    return 0;
  }, &copy);
  if (rc != 0 || copy.local) buffer[0] = '\0';
  return rc;
}

int upnp_soap_local_addresses(char (*out)[UPNP_SOAP_ADDRESS_SIZE], int max) {
  upnp_interface_info info[UPNP_MAX_INTERFACES];
  int n = upnp_interfaces_snapshot(info, UPNP_MAX_INTERFACES);
  int count = 0;
  for (int i = 0; i < n && count < max; ++i) {
    size_t n = strnlen(info[i].address, UPNP_SOAP_ADDRESS_SIZE - 1);
    std::memcpy(out[count], info[i].address, n);
    out[count][n] = '\0';
    ++count;
  }
  return count;
}
