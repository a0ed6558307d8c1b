// Input: a device description. Its first UDN (or a fixed one) is looked up,
// and the kind records of all three kinds are built from the device found;
// SCPD fetches answer with the description's own text after its first NUL
// byte (when there is one), so action lists are fuzzed as well.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp_internal.h"

namespace {

struct Input {
  std::string scpd;
};

upnp_xml_node *fetch(const char *url, void *context) {
  char joined[1024];
  cp_join_url("http://10.0.0.1:80/base", url, joined, sizeof joined);
  const Input *input = static_cast<const Input *>(context);
  return input->scpd.empty() ? nullptr : upnp_xml_parse(input->scpd.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    upnp_mem_init();
    return true;
  }();
  (void)ready;
  std::string text(reinterpret_cast<const char *>(data), size);
  Input input;
  size_t nul = text.find('\0');
  if (nul != std::string::npos) input.scpd = text.substr(nul + 1);
  upnp_xml_node *root = upnp_xml_parse_len(text.data(), text.size());
  if (root == nullptr) return 0;
  const char *first = upnp_xml_find_tag_value(root, "UDN");
  std::string udn = first != nullptr ? first : "uuid:fuzz";
  for (int kind = 0; kind <= 4; ++kind) {
    upnp_cp_description_fields fields;
    if (cp_find_device_node(root, udn.c_str(), kind, &fields) != 0) continue;
    if (std::strlen(fields.name) > sizeof fields.name - 1) __builtin_trap();
    char *base = cp_url_base(root, "http://10.0.0.1:80/dev/desc.xml");
    if (base == nullptr) continue;
    upnp_cp_device device{};
    device.kind = static_cast<uint32_t>(kind);
    device.device_node = fields.device_node;
    device.kind_record = cp_build_kind_record(fields.device_node, kind, base, udn.c_str(), "loc", fetch, &input);
    cp_apply_renderer_quirks(&device);
    unsigned services = cp_kind_record_services(device.kind_record, device.kind);
    if (device.kind_record != nullptr && kind == 2 && services != 7u) __builtin_trap();
    cp_free_kind_record(device.kind_record, device.kind);
    upnp_free_impl(base);
  }
  upnp_xml_release(root);
  return 0;
}
