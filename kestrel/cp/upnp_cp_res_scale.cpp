// The scaled-up copy of a small JPEG whose server scales pictures on request
// ("scale=WxH" in the URL): the renderer gets a full-screen picture instead of
// a thumbnail.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_cp_res_internal.h"
#include "http/http_client.h"

namespace {

constexpr unsigned int kTargetWidth = 1920;
constexpr unsigned int kTargetHeight = 1080;
constexpr unsigned int kHeadTimeoutMs = 5000;

// "_SM", else "_TN", becomes "_LRG" (first occurrence).
bool to_large_profile(std::string *text) {
  size_t at = text->find("_SM");
  if (at == std::string::npos) at = text->find("_TN");
  if (at == std::string::npos) return false;
  text->replace(at, 3, "_LRG");
  return true;
}

upnp_xml_attribute *find_attribute(upnp_xml_node *node, const char *name) {
  return upnp_xml_find_attribute(node->attributes, name);
}

bool http_head_request(const char *url, long long *length_out) {
  int s = HTTP_open(url);
  if (s < 0) return false;
  setSockOptReceiveTimeout(s, kHeadTimeoutMs);
  bool answered = false;
  if (HTTP_head_request(s, url, nullptr) == 0) {
    char header[HTTP_HEADER_BUFFER_SIZE];
    if (HTTP_get_header(s, header, sizeof header) > 0) {
      int status = HTTP_parse_header_response(header);
      answered = status >= 200 && status < 300;
      if (answered && length_out != nullptr) *length_out = HTTP_parse_header_size(header);
    }
  }
  upnp_socket_close(s);
  return answered;
}

std::atomic<res_head_function> g_head_function{http_head_request};

}  // namespace

void res_set_head_function(res_head_function function) {
  g_head_function = function != nullptr ? function : http_head_request;
}

bool res_head_request(const char *url, long long *length_out) {
  if (length_out != nullptr) *length_out = 0;
  return g_head_function.load()(url, length_out);
}

extern "C" upnp_xml_node *createScaledUpImageRes(upnp_xml_node *thumbnail) {
  if (thumbnail == nullptr || thumbnail->value == nullptr) return nullptr;
  const char *protocol_info = upnp_xml_find_attribute_value(thumbnail, "protocolInfo");
  if (protocol_info == nullptr || std::strstr(protocol_info, "image/jpeg") == nullptr) return nullptr;
  const char *resolution = upnp_xml_find_attribute_value(thumbnail, "resolution");
  unsigned int width = 0, height = 0;
  if (!upnp_cp_parse_resolution(resolution, &width, &height)) return nullptr;
  if (width >= 1024 || height >= 768) return nullptr;

  char scale[64];
  std::snprintf(scale, sizeof scale, "scale=%ux%u", width, height);
  std::string url = thumbnail->value;
  // The scale must be the picture's own size, not a longer number that
  // starts with it ("scale=160x1200").
  size_t at = url.find(scale);
  while (at != std::string::npos && std::isdigit(static_cast<unsigned char>(url[at + std::strlen(scale)])))
    at = url.find(scale, at + 1);
  if (at == std::string::npos) return nullptr;
  url.replace(at, std::strlen(scale), "scale=1920x1080");
  to_large_profile(&url);

  // One information request answers both whether the picture exists and,
  // when the res carries a size, how large it is.
  long long length = 0;
  if (!res_head_request(url.c_str(), &length)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "no scaled picture at %s", url.c_str());
    return nullptr;
  }
  bool has_size = upnp_xml_find_attribute_value(thumbnail, "size") != nullptr;
  if (has_size && length <= 0) return nullptr;

  std::string info = protocol_info;
  to_large_profile(&info);
  unsigned long long new_width = kTargetWidth, new_height = kTargetHeight;
  if (static_cast<unsigned long long>(width) * kTargetHeight >= static_cast<unsigned long long>(height) * kTargetWidth)
    new_height = static_cast<unsigned long long>(height) * kTargetWidth / width;
  else
    new_width = static_cast<unsigned long long>(width) * kTargetHeight / height;
  char new_resolution[64];
  std::snprintf(new_resolution, sizeof new_resolution, "%dx%d", static_cast<int>(new_width),
                static_cast<int>(new_height));
  char size_text[32];
  std::snprintf(size_text, sizeof size_text, "%lld", length);

  upnp_xml_node *copy = upnp_xml_copy_node(thumbnail);
  if (copy == nullptr) return nullptr;
  bool failed = upnp_xml_set_value(copy, url.c_str()) != 0 ||
                upnp_xml_set_attribute_value(find_attribute(copy, "protocolInfo"), info.c_str()) != 0 ||
                upnp_xml_set_attribute_value(find_attribute(copy, "resolution"), new_resolution) != 0 ||
                (has_size && upnp_xml_set_attribute_value(find_attribute(copy, "size"), size_text) != 0);
  if (failed) {
    upnp_xml_release(copy);
    return nullptr;
  }
  copy->next = thumbnail->next;
  thumbnail->next = copy;
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "scaled-up picture %s (%s)", url.c_str(), new_resolution);
  return copy;
}
