// Input: "<URL to play>\n<DIDL-Lite text, plain or XML-escaped>". The text
// goes through the metadata adaptation for a renderer that needs the DLNA
// fixes, with and without a proxy base, through the reduction for the URL,
// and every res through the protocolInfo and duration fixes; the URL and
// every res URL through the embedded proxy URL form, whose decoding must give
// them back. Nothing reaches the network.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp_avt_uri.h"

namespace {

const char kBase[] = "http://10.0.0.1:9000/proxy";

void round_trip(const char *url) {
  char extension[16];
  upnp_cp_url_file_extension(url, extension, sizeof extension);
  const char *site = upnp_cp_proxy_site_extension(url);
  char *embedded = upnp_util_create_embedded_url(kBase, url, extension[0] != '\0' ? extension : site);
  if (embedded == nullptr) return;
  char *back = nullptr;
  char *ext = nullptr;
  int rc = upnp_util_parse_embedded_url(kBase, embedded, &back, &ext);
  // A URL without zero bytes (all of them here) comes back unchanged.
  if (rc != 0 || std::strcmp(back, url) != 0) std::abort();
  upnp_free_impl(back);
  upnp_free_impl(ext);
  upnp_free_impl(embedded);
}

void adapt(const char *base, const char *url, const char *didl) {
  char *u = nullptr;
  char *m = nullptr;
  upnp_cp_adapt_metadata("Samsung DTV", base, url, didl, 1, &u, &m);
  if (m != nullptr) {
    // What is handed out is never empty and is XML again.
    upnp_xml_node *again = upnp_xml_parse(m);
    if (again == nullptr) std::abort();
    upnp_xml_release(again);
  }
  upnp_free_impl(u);
  upnp_free_impl(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();  // up to the first zero byte
  size_t nl = text.find('\n');
  std::string url = nl == std::string::npos ? text : text.substr(0, nl);
  std::string didl = nl == std::string::npos ? "" : text.substr(nl + 1);

  round_trip(url.c_str());
  adapt(nullptr, url.c_str(), didl.c_str());
  adapt(kBase, url.c_str(), didl.c_str());

  char *plain = nullptr;
  if (upnp_cp_metadata_plain(didl.c_str(), &plain) == 0) {
    upnp_xml_node *tree = upnp_xml_parse(plain);
    upnp_xml_node **all = nullptr;
    uint32_t count = 0;
    upnp_xml_find_all_nodes(tree, "res", &all, &count);
    for (uint32_t i = 0; i < count; ++i) {
      fixUpResElem(all[i]);
      fixDuration(all[i]);
      if (all[i]->value != nullptr) round_trip(all[i]->value);
    }
    upnp_free_impl(all);
    upnp_cp_reduce_metadata(tree, url.c_str());
    upnp_string *written = upnp_xml_tree_to_compliant_string(tree, 0, 0);
    upnp_string_free(written);
    upnp_xml_release(tree);
    upnp_free_impl(plain);
  }
  return 0;
}
