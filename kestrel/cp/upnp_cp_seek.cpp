// Percent seeks: what the renderer, the track's metadata and the track's
// server tell about seeking, then a byte seek or a time seek.
#include "cp/upnp_cp_seek.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_xml_escape.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "http/http_client.h"

namespace {

const unsigned k_bytes = UPNP_CP_SEEK_ABLE_BYTES;
const unsigned k_time = UPNP_CP_SEEK_ABLE_TIME;

struct Learned {
  unsigned abilities = 0;
  uint64_t duration = 0;  // milliseconds, 0 unknown
  uint64_t size = 0;      // bytes, 0 unknown
};

// "DLNA.ORG_OP=ab": a time seek when a is not '0', a byte seek when b is not.
unsigned op_abilities(const char *text) {
  const char *op = text != nullptr ? std::strstr(text, "DLNA.ORG_OP=") : nullptr;
  if (op == nullptr) return 0;
  op += std::strlen("DLNA.ORG_OP=");
  unsigned abilities = 0;
  if (op[0] != '\0' && op[0] != '0') abilities |= k_time;
  if (op[0] != '\0' && op[1] != '\0' && op[1] != '0') abilities |= k_bytes;
  return abilities;
}

// What the track's res in DIDL-Lite text tells (abilities only while none
// is known yet; duration and size only while unknown).
void learn_from_metadata(const char *metadata, const char *uri, unsigned allowed, Learned *learned) {
  if (metadata == nullptr || metadata[0] == '\0' || uri == nullptr || uri[0] == '\0') return;
  char *copy = static_cast<char *>(upnp_malloc_impl(std::strlen(metadata) + 1));
  if (copy == nullptr) return;
  std::strcpy(copy, metadata);
  // Metadata that arrived escaped once more than the reply's own escaping.
  const char *start = copy;
  while (std::isspace(static_cast<unsigned char>(*start))) ++start;
  if (*start != '<') upnp_xml_unescape(copy);
  upnp_xml_node *tree = upnp_xml_parse(copy);
  upnp_free_impl(copy);
  if (tree == nullptr) return;
  upnp_xml_node *res = upnp_cp_get_selected_res(tree, uri);
  if (res != nullptr) {
    if (learned->abilities == 0) {
      learned->abilities = op_abilities(upnp_xml_find_attribute_value(res, "protocolInfo")) & allowed;
    }
    uint64_t ms = 0;
    if (learned->duration == 0 && upnp_cp_time_to_ms(upnp_xml_find_attribute_value(res, "duration"), &ms)) {
      learned->duration = ms;
    }
    const char *size = upnp_xml_find_attribute_value(res, "size");
    if (learned->size == 0 && size != nullptr && std::isdigit(static_cast<unsigned char>(size[0]))) {
      learned->size = std::strtoull(size, nullptr, 10);
    }
  }
  upnp_xml_release(tree);
}

bool enough(const Learned &l, unsigned percent) {
  if (l.abilities == 0) return false;
  if ((l.abilities & k_bytes) && percent != 0 && l.size == 0) return false;
  if ((l.abilities & k_time) && percent != 0 && l.duration == 0) return false;
  return true;
}

// The value of a header field (case-insensitive name), or empty.
bool header_field(const char *header, const char *name, char *value, size_t size) {
  size_t length = std::strlen(name);
  for (const char *line = header; line != nullptr && *line != '\0';) {
    if (strncasecmp(line, name, length) == 0 && line[length] == ':') {
      const char *v = line + length + 1;
      while (*v == ' ' || *v == '\t') ++v;
      size_t n = std::strcspn(v, "\r\n");
      if (n >= size) n = size - 1;
      std::memcpy(value, v, n);
      value[n] = '\0';
      return true;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return false;
}

// HEAD of the track's URI. 0 when it answered 200 or 206 (what it told is
// added), -1 when it could not be reached, else the error to answer.
int learn_from_server(const char *uri, unsigned allowed, Learned *learned) {
  int socket = HTTP_open(uri);
  if (socket < 0) return -1;
  int answer = -1;
  if (HTTP_head_request(socket, uri, "getcontentFeatures.dlna.org: 1\r\n") == 0) {
    char header[8192];
    int status = 0;
    do {
      if (HTTP_get_header(socket, header, sizeof header) <= 0) {
        status = 0;
        break;
      }
      const char *sp = std::strchr(header, ' ');
      status = sp != nullptr ? std::atoi(sp + 1) : 0;
    } while (status >= 100 && status < 200);
    if (status == 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "get_http_header", "get_http_header Did not receive a valid header");
      answer = 404;
    } else if (status == 200 || status == 206) {
      answer = 0;
      if (std::strstr(header, "\r\nAccept-Ranges: bytes\r\n") != nullptr) learned->abilities |= k_bytes & allowed;
      learned->abilities |= op_abilities(header) & allowed;
      char length[32];
      if (learned->size == 0 && header_field(header, "Content-Length", length, sizeof length) &&
          std::isdigit(static_cast<unsigned char>(length[0]))) {
        learned->size = std::strtoull(length, nullptr, 10);
      }
    } else {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "upnp_cp_seek_pct", "Failed to receive data: %d", status);
      answer = status;
    }
  }
  upnp_socket_close(socket);
  return answer;
}

unsigned allowed_kinds(void) {
  const char *map = upnp_ini_file_getString(INI_MAP_SEEKPCT);
  if (map != nullptr && std::strcmp(map, "time") == 0) return k_time;
  if (map != nullptr && std::strcmp(map, "bytes") == 0) return k_bytes;
  return k_bytes | k_time;
}

bool has_mode(const char *modes, const char *mode) {
  size_t length = std::strlen(mode);
  for (const char *p = modes; *p != '\0';) {
    while (*p == ',' || *p == ' ') ++p;
    size_t n = std::strcspn(p, ", ");
    if (n == length && std::strncmp(p, mode, length) == 0) return true;
    p += n;
  }
  return false;
}

}  // namespace

extern "C" int upnp_cp_time_to_ms(const char *text, uint64_t *ms_out) {
  if (ms_out != nullptr) *ms_out = 0;
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return 0;
  char *end = nullptr;
  uint64_t hours = std::strtoull(text, &end, 10);
  if (*end != ':' || !std::isdigit(static_cast<unsigned char>(end[1]))) return 0;
  uint64_t minutes = std::strtoull(end + 1, &end, 10);
  if (*end != ':' || !std::isdigit(static_cast<unsigned char>(end[1]))) return 0;
  uint64_t seconds = std::strtoull(end + 1, &end, 10);
  uint64_t ms = 0;
  if (*end == '.' && std::isdigit(static_cast<unsigned char>(end[1]))) {
    const char *fraction = end + 1;
    size_t digits = std::strspn(fraction, "0123456789");
    if (fraction[digits] == '/') {
      uint64_t f0 = std::strtoull(fraction, nullptr, 10);
      uint64_t f1 = std::strtoull(fraction + digits + 1, nullptr, 10);
      if (f1 > 0) ms = f0 * 1000 / f1;
    } else {
      unsigned scale = 100;
      for (size_t i = 0; i < digits && scale > 0; ++i, scale /= 10) ms += (fraction[i] - '0') * scale;
    }
  }
  if (minutes > 59 || seconds > 59) return 0;
  if (ms_out != nullptr) *ms_out = ((hours * 60 + minutes) * 60 + seconds) * 1000 + ms;
  return 1;
}

extern "C" void upnp_cp_ms_to_time(uint64_t ms, char *buffer, unsigned size) {
  if (buffer == nullptr || size == 0) return;
  uint64_t seconds = ms / 1000;
  std::snprintf(buffer, size, "%" PRIu64 ":%02u:%02u", seconds / 3600, static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
}

extern "C" upnp_xml_node *upnp_cp_get_selected_res(upnp_xml_node *didl, const char *uri) {
  if (didl == nullptr || uri == nullptr) return nullptr;
  while (std::isspace(static_cast<unsigned char>(*uri))) ++uri;
  size_t length = std::strlen(uri);
  while (length > 0 && std::isspace(static_cast<unsigned char>(uri[length - 1]))) --length;
  if (length == 0) return nullptr;
  for (upnp_xml_node *res = upnp_xml_find_tag(didl, "res"); res != nullptr; res = upnp_xml_find_next_tag(res, "res")) {
    const char *text = res->value != nullptr ? res->value : "";
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    size_t n = std::strlen(text);
    while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
    if (n == length && std::strncmp(text, uri, length) == 0) return res;
  }
  return nullptr;
}

extern "C" int upnp_cp_seek_rel_byte(int renderer, uint64_t bytes) {
  char modes[1024];
  int rc = upnp_control_getSupportedSeekModes(renderer, sizeof modes, modes);
  if (rc != 0) return rc;
  char target[32];
  std::snprintf(target, sizeof target, "%" PRIu64, bytes);
  if (has_mode(modes, "X_DLNA_REL_BYTE")) return upnp_control_seek(renderer, UPNP_SEEK_X_DLNA_REL_BYTE, target);
  if (has_mode(modes, "REL_COUNT")) return upnp_control_seek(renderer, UPNP_SEEK_REL_COUNT, target);
  return UPNP_E_NOT_IMPLEMENTED;
}

extern "C" int upnp_cp_seek_pct(int renderer, unsigned percent, const char *metadata, unsigned *abilities_out,
                                unsigned *kind_out, uint64_t *target_out, uint64_t *duration_out,
                                uint64_t *size_out) {
  if (abilities_out != nullptr) *abilities_out = 0;
  if (kind_out != nullptr) *kind_out = 0;
  if (target_out != nullptr) *target_out = 0;
  if (duration_out != nullptr) *duration_out = 0;
  if (size_out != nullptr) *size_out = 0;
  const unsigned allowed = allowed_kinds();
  if (!upnp_cp_isValidIndex(renderer, UPNP_CP_KIND_RENDERER)) return UPNP_E_INVALID_INDEX;
  if (percent > 100) percent = 100;

  Learned learned;
  char *track_duration = nullptr;
  char *track_metadata = nullptr;
  char *track_uri = nullptr;
  char *rel_time = nullptr;
  int track = 0;
  int rel_count = 0;
  int abs_count = 0;
  if (upnp_get_PositionInfo(renderer, &track, &track_duration, &track_metadata, &track_uri, &rel_time, nullptr,
                            &rel_count, &abs_count) == 0) {
    if (rel_count >= 1 && rel_count <= 2147483646) learned.abilities |= k_bytes;
    if (rel_time != nullptr && std::strpbrk(rel_time, "123456789") != nullptr) learned.abilities |= k_time;
    learned.abilities &= allowed;
  }
  char model[256] = "";
  upnp_control_get_device_attribute(renderer, "modelName", model, sizeof model, UPNP_CP_KIND_RENDERER);
  if (std::strcmp(model, "DiXiM Media Renderer") != 0) {
    learn_from_metadata(track_metadata, track_uri, allowed, &learned);
  }
  uint64_t ms = 0;
  if (learned.duration == 0 && upnp_cp_time_to_ms(track_duration, &ms)) learned.duration = ms;
  if (!enough(learned, percent) && metadata != nullptr) learn_from_metadata(metadata, track_uri, allowed, &learned);
  int head_error = 0;
  if (!enough(learned, percent) && track_uri != nullptr && track_uri[0] != '\0') {
    int answer = learn_from_server(track_uri, allowed, &learned);
    if (answer > 0) head_error = answer;
  }
  upnp_free_impl(track_duration);
  upnp_free_impl(track_metadata);
  upnp_free_impl(track_uri);
  upnp_free_impl(rel_time);

  int result = head_error != 0 ? head_error : 710;
  unsigned kind = 0;
  uint64_t target = 0;
  if ((learned.abilities & k_bytes) && (learned.size > 0 || percent == 0)) {
    target = percent * learned.size / 100;
    result = upnp_cp_seek_rel_byte(renderer, target);
    if (result == 0) kind = UPNP_CP_SEEK_KIND_BYTES;
  }
  // A byte seek that could not be made (no byte seek mode, or refused)
  // falls back to a time seek.
  if (kind == 0 && (learned.abilities & k_time) && (learned.duration > 0 || percent == 0)) {
    target = percent * learned.duration / 100;
    result = upnp_control_seek_time(renderer, 0, target);
    if (result == 0) kind = UPNP_CP_SEEK_KIND_TIME;
  }
  if (kind == 0) return result;
  if (abilities_out != nullptr) *abilities_out = learned.abilities;
  if (kind_out != nullptr) *kind_out = kind;
  if (target_out != nullptr) *target_out = target;
  if (duration_out != nullptr) *duration_out = learned.duration;
  if (size_out != nullptr) *size_out = learned.size;
  return 0;
}
