// Choosing for objects on a server and for DIDL-Lite the caller holds, and the
// can-play answers for objects and URLs.
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_cp_res_internal.h"
#include "cp/upnp_soap.h"
#include "cp/upnp_soap_internal.h"
#include "http/http_mime.h"

namespace {

constexpr const char *kNeededFields = "res,res@protocolInfo,upnp:class";

std::string browse_filter(const char *filter) {
  if (filter == nullptr || *filter == '\0') return kNeededFields;
  if (std::strcmp(filter, "*") == 0) return "*";
  if (std::strstr(filter, kNeededFields) != nullptr) return std::string(filter) + ",res";
  return std::string(kNeededFields) + "," + filter + ",res";
}

// The MIME type for the file name of an http URL (query and fragment
// ignored).
const char *url_mime_type(const char *url) {
  std::string path = url;
  size_t end = path.find_first_of("?#");
  if (end != std::string::npos) path.resize(end);
  size_t host_end = path.find('/', 7);
  path = host_end == std::string::npos ? std::string() : path.substr(host_end);
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return HTTP_get_mime_type(nullptr, HTTP_get_extension(name.c_str()));
}

}  // namespace

extern "C" int upnp_cp_get_supported_res2(int renderer, int server, const char *object_id, const char *filter,
                                          upnp_xml_node **tree_out, upnp_xml_node **res_out, char **didl_out) {
  if (tree_out != nullptr) *tree_out = nullptr;
  if (res_out != nullptr) *res_out = nullptr;
  if (didl_out != nullptr) *didl_out = nullptr;
  // The chosen res lives in the tree: it cannot be handed out without it.
  if (object_id == nullptr || (res_out != nullptr && tree_out == nullptr)) return UPNP_CP_INVALID_PARAMETER;

  char *list = nullptr;
  int result = upnp_cp_get_protocolinfo(renderer, &list);
  if (result != UPNP_CP_OK) return result;

  std::string browse = browse_filter(filter);
  upnp_xml_node *reply = nullptr;
  result = upnp_control_browse_metadata(server, object_id, browse.c_str(), nullptr, &reply);
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "upnp_cp_get_object_info for server %d and object ID %s: %s",
                server, object_id, upnp_get_errmsg(result));
  upnp_xml_node *didl = nullptr;
  if (result == UPNP_CP_OK) {
    const char *text = upnp_soap_out_text(reply, "Result");
    didl = text != nullptr ? upnp_xml_parse(text) : nullptr;
    if (didl == nullptr) {
      result = UPNP_CP_NOT_FOUND;
    } else if (didl_out != nullptr) {
      *didl_out = upnp_strdup_impl(text);
      if (*didl_out == nullptr) result = UPNP_CP_OUT_OF_MEMORY;
    }
  }
  upnp_xml_release(reply);
  if (result == UPNP_CP_OK) result = upnp_cp_get_best_res(renderer, list, didl, res_out);
  upnp_free_impl(list);
  if (result == UPNP_CP_OK && tree_out != nullptr) {
    *tree_out = didl;
  } else {
    if (res_out != nullptr) *res_out = nullptr;
    if (result != UPNP_CP_OK && didl_out != nullptr) {
      upnp_free_impl(*didl_out);
      *didl_out = nullptr;
    }
    upnp_xml_release(didl);
  }
  return result;
}

extern "C" int upnp_cp_get_supported_res(int renderer, int server, const char *object_id, upnp_xml_node **tree_out,
                                         upnp_xml_node **res_out) {
  return upnp_cp_get_supported_res2(renderer, server, object_id, nullptr, tree_out, res_out, nullptr);
}

extern "C" int upnp_cp_renderer_can_play_object(int renderer, int server, const char *object_id) {
  return upnp_cp_get_supported_res2(renderer, server, object_id, nullptr, nullptr, nullptr, nullptr);
}

extern "C" int upnp_cp_get_supported_res3(int renderer, upnp_xml_node *tree, upnp_xml_node **res_out) {
  if (res_out != nullptr) *res_out = nullptr;
  if (tree == nullptr) return UPNP_CP_INVALID_PARAMETER;
  char *list = nullptr;
  int result = upnp_cp_get_protocolinfo(renderer, &list);
  if (result == UPNP_CP_OK) result = upnp_cp_get_best_res(renderer, list, tree, res_out);
  upnp_free_impl(list);
  return result;
}

extern "C" int upnp_cp_get_supported_res4(int renderer, const char *didl_text, upnp_xml_node **tree_out,
                                          upnp_xml_node **res_out) {
  if (tree_out != nullptr) *tree_out = nullptr;
  if (res_out != nullptr) *res_out = nullptr;
  if (didl_text == nullptr || (res_out != nullptr && tree_out == nullptr)) return UPNP_CP_INVALID_PARAMETER;
  upnp_xml_node *tree = upnp_xml_parse(didl_text);
  if (tree == nullptr) return UPNP_CP_NOT_FOUND;
  int result = upnp_cp_get_supported_res3(renderer, tree, res_out);
  if (result == UPNP_CP_OK && tree_out != nullptr) {
    *tree_out = tree;
  } else {
    if (res_out != nullptr) *res_out = nullptr;
    upnp_xml_release(tree);
  }
  return result;
}

extern "C" int upnp_cp_list_can_play_url(const char *renderer_list, const char *url) {
  if (url == nullptr || strncasecmp(url, "http://", 7) != 0) return UPNP_CP_INVALID_PARAMETER;
  char types[256];
  int n = std::snprintf(types, sizeof types, "http-get:*:%s:", url_mime_type(url));
  if (n < 0 || static_cast<size_t>(n) >= sizeof types) return UPNP_CP_NOT_FOUND;
  return renderer_list != nullptr && upnp_cp_supports_types(renderer_list, types, 1) ? UPNP_CP_OK
                                                                                     : UPNP_CP_NOT_FOUND;
}

extern "C" int upnp_cp_renderer_can_play_url(int renderer, const char *url) {
  if (url == nullptr || strncasecmp(url, "http://", 7) != 0) return UPNP_CP_INVALID_PARAMETER;
  char *list = nullptr;
  int result = upnp_cp_get_protocolinfo(renderer, &list);
  if (result == UPNP_CP_OK) result = upnp_cp_list_can_play_url(list, url);
  upnp_free_impl(list);
  return result;
}
