// Proxied URLs: the embedded proxy URL form (see upnp_cp_avt_uri.h), its
// decoding for a proxy, and the choice of the extension a renderer sees.
#include <cctype>
#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "http/http_mime.h"

namespace {

constexpr size_t kMaxExtension = 15;

bool valid_extension(const char *text, size_t length) {
  if (text == nullptr || length == 0 || length > kMaxExtension) return false;
  for (size_t i = 0; i < length; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

bool kept_byte(unsigned char c) { return std::isalnum(c) || c == '-' || c == '_' || c == '~'; }

// Length of the base without trailing '/'.
size_t base_length(const char *base) {
  size_t n = std::strlen(base);
  while (n > 0 && base[n - 1] == '/') --n;
  return n;
}

// The MIME type field (third) of a protocolInfo, into buffer; false when the
// text has fewer than four fields.
bool mime_field(const char *protocol_info, char *buffer, size_t size) {
  const char *p = protocol_info;
  for (int i = 0; i < 2 && p != nullptr; ++i) {
    p = std::strchr(p, ':');
    if (p != nullptr) ++p;
  }
  if (p == nullptr) return false;
  const char *end = std::strchr(p, ':');
  if (end == nullptr) return false;
  size_t n = static_cast<size_t>(end - p);
  if (n == 0 || n >= size) return false;
  std::memcpy(buffer, p, n);
  buffer[n] = '\0';
  return true;
}

// The res of the metadata whose URL is `url`, else the first one with a
// protocolInfo.
const upnp_xml_node *selected_res(const upnp_xml_node *metadata, const char *url) {
  upnp_xml_node **all = nullptr;
  uint32_t count = 0;
  upnp_xml_find_all_nodes(const_cast<upnp_xml_node *>(metadata), "res", &all, &count);
  const upnp_xml_node *first = nullptr;
  const upnp_xml_node *same = nullptr;
  for (uint32_t i = 0; i < count && same == nullptr; ++i) {
    if (upnp_xml_find_attribute_value(all[i], "protocolInfo") == nullptr) continue;
    if (first == nullptr) first = all[i];
    if (all[i]->value != nullptr && std::strcmp(all[i]->value, url) == 0) same = all[i];
  }
  upnp_free_impl(all);
  return same != nullptr ? same : first;
}

const char *extension_for_mime(const char *mime_type) {
  if (mime_type == nullptr || mime_type[0] == '\0') return nullptr;
  return HTTP_get_extension_by_mime_type(mime_type);
}

}  // namespace

extern "C" int upnp_cp_url_file_extension(const char *url, char *buffer, unsigned int size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (url == nullptr || buffer == nullptr || size == 0) return UPNP_CP_INVALID_PARAMETER;
  const char *scheme = std::strstr(url, "://");
  const char *path = url;
  if (scheme != nullptr) {
    path = std::strchr(scheme + 3, '/');
    if (path == nullptr) return UPNP_CP_NOT_FOUND;
  }
  size_t path_length = std::strcspn(path, "?#");
  const char *name = path;
  for (size_t i = 0; i < path_length; ++i) {
    if (path[i] == '/') name = path + i + 1;
  }
  size_t name_length = path_length - static_cast<size_t>(name - path);
  const char *dot = nullptr;
  for (size_t i = 0; i < name_length; ++i) {
    if (name[i] == '.') dot = name + i;
  }
  if (dot == nullptr) return UPNP_CP_NOT_FOUND;
  size_t n = name_length - static_cast<size_t>(dot + 1 - name);
  if (!valid_extension(dot + 1, n)) return UPNP_CP_NOT_FOUND;
  if (n >= size) return UPNP_CP_BUFFER_TOO_SMALL;
  std::memcpy(buffer, dot + 1, n);
  buffer[n] = '\0';
  return UPNP_CP_OK;
}

extern "C" char *upnp_util_create_embedded_url(const char *base, const char *url, const char *extension) {
  if (base == nullptr || url == nullptr || url[0] == '\0') return nullptr;
  static const char kHex[] = "0123456789ABCDEF";
  size_t url_length = std::strlen(url);
  upnp_string *out = upnp_string_create(nullptr, static_cast<uint32_t>(std::strlen(base) + url_length * 3 + 24));
  if (out != nullptr) out = upnp_string_add(out, base, static_cast<uint32_t>(base_length(base)));
  if (out != nullptr) out = upnp_string_append(out, '/');
  for (size_t i = 0; i < url_length && out != nullptr; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (kept_byte(c)) {
      out = upnp_string_append(out, static_cast<char>(c));
    } else {
      char escape[3] = {'%', kHex[c >> 4], kHex[c & 15]};
      out = upnp_string_add(out, escape, 3);
    }
  }
  if (out != nullptr && extension != nullptr && valid_extension(extension, std::strlen(extension))) {
    out = upnp_string_append(out, '.');
    if (out != nullptr) out = upnp_string_concat(out, extension);
  }
  char *result = upnp_string_copy_cstring(out);
  upnp_string_free(out);
  return result;
}

extern "C" int upnp_util_parse_embedded_url(const char *base, const char *embedded, char **url_out,
                                            char **extension_out) {
  if (url_out != nullptr) *url_out = nullptr;
  if (extension_out != nullptr) *extension_out = nullptr;
  if (base == nullptr || embedded == nullptr || url_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  size_t n = base_length(base);
  if (std::strncmp(embedded, base, n) != 0 || embedded[n] != '/') return UPNP_CP_INVALID_PARAMETER;
  const char *encoded = embedded + n + 1;
  size_t length = std::strlen(encoded);
  const char *dot = static_cast<const char *>(std::memchr(encoded, '.', length));
  size_t encoded_length = dot != nullptr ? static_cast<size_t>(dot - encoded) : length;
  for (size_t i = 0; i < encoded_length; ++i) {
    unsigned char c = static_cast<unsigned char>(encoded[i]);
    if (!kept_byte(c) && c != '%') return UPNP_CP_INVALID_PARAMETER;
  }
  if (encoded_length == 0) return UPNP_CP_INVALID_PARAMETER;
  if (dot != nullptr && !valid_extension(dot + 1, length - encoded_length - 1)) return UPNP_CP_INVALID_PARAMETER;
  upnp_string *decoded = upnp_string_from_encoded_url(encoded, encoded_length);
  if (decoded == nullptr) return UPNP_CP_OUT_OF_MEMORY;
  if (std::strlen(decoded->buffer) != decoded->length) {
    upnp_string_free(decoded);
    return UPNP_CP_INVALID_PARAMETER;
  }
  *url_out = upnp_string_copy_cstring(decoded);
  upnp_string_free(decoded);
  if (*url_out == nullptr) return UPNP_CP_OUT_OF_MEMORY;
  if (dot != nullptr && extension_out != nullptr) {
    *extension_out = upnp_strdup_impl(dot + 1);
    if (*extension_out == nullptr) {
      upnp_free_impl(*url_out);
      *url_out = nullptr;
      return UPNP_CP_OUT_OF_MEMORY;
    }
  }
  return UPNP_CP_OK;
}

extern "C" int getProxiedUrl(const char *base, const char *url, const char *mime_type,
                             const upnp_xml_node *metadata, char **out) {
  if (out != nullptr) *out = nullptr;
  if (base == nullptr || base[0] == '\0' || url == nullptr || url[0] == '\0' || out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  if (upnp_cp_is_home_network_http_url(url)) {
    *out = upnp_strdup_impl(url);
    return *out != nullptr ? UPNP_CP_OK : UPNP_CP_OUT_OF_MEMORY;
  }
  char own[kMaxExtension + 1];
  const char *extension = nullptr;
  if (upnp_cp_url_file_extension(url, own, sizeof own) == UPNP_CP_OK) {
    const char *type = HTTP_get_mime_type(nullptr, own);
    if (std::strcmp(type, HTTP_MIME_FALLBACK) != 0 && strncasecmp(type, "text/", 5) != 0) extension = own;
  }
  if (extension == nullptr) extension = extension_for_mime(mime_type);
  if (extension == nullptr && metadata != nullptr) {
    const upnp_xml_node *res = selected_res(metadata, url);
    char type[128];
    if (res != nullptr && mime_field(upnp_xml_find_attribute_value(const_cast<upnp_xml_node *>(res), "protocolInfo"),
                                     type, sizeof type)) {
      extension = extension_for_mime(type);
    }
  }
  if (extension == nullptr) extension = upnp_cp_proxy_site_extension(url);
  *out = upnp_util_create_embedded_url(base, url, extension);
  if (*out == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "Out of memory creating proxy URL for '%s'", url);
    return UPNP_CP_OUT_OF_MEMORY;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "Proxying URL '%s' to '%s'", url, *out);
  return UPNP_CP_OK;
}
