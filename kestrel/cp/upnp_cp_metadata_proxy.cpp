// Metadata adaptation before a URL is handed to a renderer: the model's
// protocolInfo and duration fixes and the routing of URLs through the proxy,
// with the metadata written back in compliant form when anything changed.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"

namespace {

struct ResList {
  upnp_xml_node **nodes = nullptr;
  uint32_t count = 0;
  ~ResList() { upnp_free_impl(nodes); }
};

// Every res URL goes through the proxy when none of them is in the home
// network. -1 without memory, else whether anything changed.
int proxy_res_urls(const char *base, upnp_xml_node *tree, const ResList &res) {
  uint32_t with_url = 0;
  for (uint32_t i = 0; i < res.count; ++i) {
    const char *value = res.nodes[i]->value;
    if (value == nullptr || value[0] == '\0') continue;
    if (upnp_cp_is_home_network_http_url(value)) return 0;
    ++with_url;
  }
  int changed = 0;
  for (uint32_t i = 0; i < res.count && with_url > 0; ++i) {
    upnp_xml_node *node = res.nodes[i];
    if (node->value == nullptr || node->value[0] == '\0') continue;
    char *proxied = nullptr;
    if (getProxiedUrl(base, node->value, nullptr, tree, &proxied) != UPNP_CP_OK) return -1;
    if (std::strcmp(proxied, node->value) != 0) {
      if (upnp_xml_set_value(node, proxied) != 0) {
        upnp_free_impl(proxied);
        return -1;
      }
      changed = 1;
    }
    upnp_free_impl(proxied);
  }
  return changed;
}

}  // namespace

extern "C" int upnp_cp_metadata_plain(const char *metadata, char **out) {
  if (out != nullptr) *out = nullptr;
  if (metadata == nullptr || out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  const char *p = metadata;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  *out = upnp_strdup_impl(metadata);
  if (*out == nullptr) return UPNP_CP_OUT_OF_MEMORY;
  if (*p != '<' && *p != '\0') upnp_xml_unescape(*out);
  return UPNP_CP_OK;
}

extern "C" int upnp_cp_adapt_metadata(const char *model_name, const char *proxy_base, const char *url,
                                      const char *metadata, int adapt, char **url_out, char **metadata_out) {
  if (url_out != nullptr) *url_out = nullptr;
  if (metadata_out != nullptr) *metadata_out = nullptr;
  if (url == nullptr || url_out == nullptr || metadata_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  bool fixes = adapt && upnp_cp_model_needs_dlna_fixes(model_name);
  bool proxy = proxy_base != nullptr && proxy_base[0] != '\0';
  if (!fixes && !proxy) return UPNP_CP_OK;

  upnp_xml_node *tree = nullptr;
  if (metadata != nullptr && metadata[0] != '\0') {
    char *plain = nullptr;
    if (upnp_cp_metadata_plain(metadata, &plain) != UPNP_CP_OK) return UPNP_CP_OUT_OF_MEMORY;
    tree = upnp_xml_parse(plain);
    upnp_free_impl(plain);
  }
  ResList res;
  if (tree != nullptr && upnp_xml_find_all_nodes(tree, "res", &res.nodes, &res.count) < 0) {
    upnp_xml_release(tree);
    return UPNP_CP_OUT_OF_MEMORY;
  }

  int result = UPNP_CP_OK;
  bool changed = false;
  if (proxy) {
    char *proxied = nullptr;
    result = getProxiedUrl(proxy_base, url, nullptr, tree, &proxied);
    if (result == UPNP_CP_OK && std::strcmp(proxied, url) != 0) {
      *url_out = proxied;
    } else {
      upnp_free_impl(proxied);
    }
    if (result == UPNP_CP_OK && tree != nullptr) {
      int r = proxy_res_urls(proxy_base, tree, res);
      if (r < 0) result = UPNP_CP_OUT_OF_MEMORY;
      changed = changed || r > 0;
    }
  }
  if (fixes && tree != nullptr) {
    for (uint32_t i = 0; i < res.count && result == UPNP_CP_OK; ++i) {
      int a = fixUpResElem(res.nodes[i]);
      int b = a < 0 ? -1 : fixDuration(res.nodes[i]);
      if (a < 0 || b < 0) result = UPNP_CP_OUT_OF_MEMORY;
      changed = changed || a > 0 || b > 0;
    }
  }
  if (result == UPNP_CP_OK && changed) {
    upnp_string *written = upnp_xml_tree_to_compliant_string(tree, 0, 0);
    // Nothing left to write (every element empty): the metadata stays as
    // given rather than being replaced by an empty text.
    if (written == nullptr) {
      result = UPNP_CP_OUT_OF_MEMORY;
    } else if (written->length > 0) {
      *metadata_out = upnp_string_copy_cstring(written);
      if (*metadata_out == nullptr) result = UPNP_CP_OUT_OF_MEMORY;
    }
    upnp_string_free(written);
  }
  upnp_xml_release(tree);
  if (result != UPNP_CP_OK) {
    upnp_free_impl(*url_out);
    *url_out = nullptr;
    upnp_free_impl(*metadata_out);
    *metadata_out = nullptr;
  }
  return result;
}

extern "C" int upnp_cp_proxy_metadata(int index, const char *url, const char *metadata, int proxy_kind, int adapt,
                                      char **url_out, char **metadata_out) {
  if (url_out != nullptr) *url_out = nullptr;
  if (metadata_out != nullptr) *metadata_out = nullptr;
  if (url == nullptr || url_out == nullptr || metadata_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  char model[256];
  if (upnp_control_get_device_attribute(index, "modelName", model, sizeof model, UPNP_CP_KIND_RENDERER) !=
      UPNP_CP_OK) {
    model[0] = '\0';
  }
  char *base = nullptr;
  if (proxy_kind != 0 && upnp_cp_get_proxy_base(proxy_kind, &base) == UPNP_CP_OUT_OF_MEMORY) {
    return UPNP_CP_OUT_OF_MEMORY;
  }
  int result = upnp_cp_adapt_metadata(model, base, url, metadata, adapt, url_out, metadata_out);
  upnp_free_impl(base);
  return result;
}
