// Input: a SOAP reply body as a device may send it. It goes through
// everything the actions read from replies: the UPnP error code, the parse of
// the reply (whole, and from its first element after the declaration as
// Browse does), the out-argument rules (text, integer, digit, boolean), the
// byte-position element and the DIDL-Lite Result inside.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "cp/upnp_soap_internal.h"

namespace {

const char *const kTexts[] = {"CurrentTransportState", "TrackURI", "TrackMetaData", "Source", "Sink", "UIListing",
                              "NewID", "SearchCaps", "Result"};
const char *const kNumbers[] = {"Track", "RelCount", "NrTracks", "CurrentVolume", "MinValue", "Id"};
const char *const kBooleans[] = {"CurrentMute", "CurrentLoudness"};

void read_out_arguments(upnp_xml_node *tree) {
  for (const char *name : kTexts) {
    char *text = nullptr;
    upnp_soap_out_copy(tree, name, &text, 0);
    upnp_free_impl(text);
  }
  for (const char *name : kNumbers) {
    unsigned digit = 0;
    upnp_soap_out_digit(tree, name, &digit);
    (void)upnp_soap_out_int(tree, name);
  }
  for (const char *name : kBooleans) {
    int on = 0;
    upnp_soap_out_bool(tree, name, &on);
  }
  upnp_xml_node *bytes = upnp_xml_find_tag(tree, "X_DLNA_GetBytePositionInfoResponse");
  if (bytes) (void)upnp_xml_find_tag_value_uint64(bytes->children, "TrackSize", 0);
  const char *result = upnp_soap_out_text(tree, "Result");
  if (result) {
    upnp_xml_node *didl = upnp_xml_parse(result);
    for (upnp_xml_node *e = didl ? didl->children : nullptr; e; e = e->next) {
      (void)upnp_xml_find_attribute_value(e, "id");
      (void)upnp_xml_find_tag_value(e->children, "dc:title");
    }
    upnp_xml_release(didl);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    upnp_mem_init();
    return true;
  }();
  (void)ready;
  std::string reply(reinterpret_cast<const char *>(data), size);
  (void)upnp_soap_error_code(reply.c_str());
  upnp_xml_node *tree = upnp_xml_parse(reply.c_str());
  read_out_arguments(tree);
  upnp_xml_release(tree);
  const char *text = reply.c_str();
  const char *start = *text ? std::strchr(text + 1, '<') : nullptr;
  if (start) {
    tree = upnp_xml_parse(start);
    read_out_arguments(tree);
    upnp_xml_release(tree);
  }
  return 0;
}
