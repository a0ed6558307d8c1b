// Readers of GENA header fields (SID, SEQ, TIMEOUT) and event bodies
// (service, transport state), and the synthetic transport-state event body.
#include <cctype>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_soap.h"
#include "http/http_parse.h"

namespace {

const char kSyntheticHead[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">"
    "<e:property><LastChange>&lt;Event xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/AVT/&quot;&gt;"
    "&lt;InstanceID val=&quot;0&quot;&gt;";
const char kSyntheticMark[] = "&lt;SyntheticEvent/&gt;";
const char kSyntheticState[] = "&lt;TransportState val=&quot;";
const char kSyntheticTail[] = "&quot;/&gt;&lt;/InstanceID&gt;&lt;/Event&gt;</LastChange></e:property></e:propertyset>";

struct ServiceMark {
  const char *text;
  unsigned int bits;
};

// Tried in this order; the first text found in the body names the service.
const ServiceMark kServiceMarks[] = {
    {"urn:schemas-upnp-org:metadata-1-0/AVT", UPNP_CP_SERVICE_AVT},
    {"urn:schemas-upnp-org:metadata-1-0/RCS", UPNP_CP_SERVICE_RC},
    {"SystemUpdateID", UPNP_CP_SERVICE_CDS},
    {"LastChange", UPNP_CP_SERVICE_AVT | UPNP_CP_SERVICE_RC},
    {"ContainerUpdateIDs", UPNP_CP_SERVICE_CDS},
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

extern "C" char *upnp_cp_get_SID(const char *header) {
  if (header == nullptr) return nullptr;
  const char *field = HTTP_find_nocase(header, "\nSID:");
  if (field == nullptr) return nullptr;
  const char *value = field + 5;
  while (is_blank(*value)) ++value;
  size_t length = 0;
  while (static_cast<unsigned char>(value[length]) > ' ') ++length;
  // Empty, or nothing beyond (a beginning of) the "uuid:" prefix.
  if (length == 0 || (length <= 5 && strncasecmp(value, "uuid:", length) == 0)) return nullptr;
  auto *copy = static_cast<char *>(upnp_malloc_impl(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, value, length);
  copy[length] = '\0';
  return copy;
}

extern "C" int upnp_cp_get_event_sequence(const char *header, uint32_t *out) {
  if (out != nullptr) *out = 0;
  if (header == nullptr) return 0;
  const char *field = HTTP_find_nocase(header, "\nSEQ:");
  if (field == nullptr) return 0;
  const char *value = field + 5;
  while (is_blank(*value)) ++value;
  if (!std::isdigit(static_cast<unsigned char>(*value))) return 0;
  uint64_t number = 0;
  for (; std::isdigit(static_cast<unsigned char>(*value)); ++value) {
    number = number * 10u + static_cast<unsigned>(*value - '0');
    if (number > 0xFFFFFFFFull) number = 0xFFFFFFFFull;  // saturates: read as "no sequence check"
  }
  if (out != nullptr) *out = static_cast<uint32_t>(number);
  return 1;
}

extern "C" int64_t upnp_cp_get_timeout(const char *header, int64_t requested) {
  if (header == nullptr) return requested;
  const char *field = HTTP_find_nocase(header, "\r\nTIMEOUT:");
  if (field == nullptr) return requested;
  const char *eol = std::strpbrk(field + 2, "\r\n");
  const char *second = HTTP_find_nocase(field + 10, "Second-");
  if (second == nullptr || (eol != nullptr && second > eol)) return 0;
  const char *value = second + 7;
  int64_t number = 0;
  for (; std::isdigit(static_cast<unsigned char>(*value)); ++value) {
    number = number * 10 + (*value - '0');
    if (number > 0x7FFFFFFF) number = 0x7FFFFFFF;
  }
  return number;  // "infinite" and other words read as 0
}

extern "C" unsigned int upnp_cp_get_event_service(const char *body) {
  if (body == nullptr) return 0;
  for (const ServiceMark &mark : kServiceMarks) {
    if (std::strstr(body, mark.text) != nullptr) return mark.bits;
  }
  return 0;
}

extern "C" int upnp_cp_get_event_TransportState(const char *body) {
  if (body == nullptr) return -1;
  const char *name = std::strstr(body, "TransportState");
  if (name == nullptr) return -1;
  const char *val = std::strstr(name, "val=");
  if (val == nullptr) return -1;
  val += 4;
  std::string state;
  if (*val == '"') {
    const char *end = std::strchr(val + 1, '"');
    if (end == nullptr) return -1;
    state.assign(val + 1, static_cast<size_t>(end - val - 1));
  } else if (std::strncmp(val, "&quot;", 6) == 0) {
    const char *end = std::strchr(val + 6, '&');
    if (end == nullptr) return -1;
    state.assign(val + 6, static_cast<size_t>(end - val - 6));
  } else {
    return -1;
  }
  return upnp_transport_state_index(state.c_str());
}

extern "C" char *upnp_cp_createSyntheticStateEvent(int state, int marked) {
  const char *text = upnp_transport_state_text(state);
  if (text == nullptr) return nullptr;
  std::string body = kSyntheticHead;
  if (marked) body += kSyntheticMark;
  body += kSyntheticState;
  body += text;
  body += kSyntheticTail;
  return upnp_strdup_impl(body.c_str());
}
