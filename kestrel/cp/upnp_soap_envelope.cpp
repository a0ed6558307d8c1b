// Request envelopes: the fixed SOAP frame around one action element whose
// in-arguments are written, escaped, in the order of the action.
#include <cstdio>
#include <cstring>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "cp/upnp_soap_internal.h"

namespace {

constexpr const char kPrefix[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<s:Envelope s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
constexpr const char kSuffix[] = "</s:Body></s:Envelope>";

}  // namespace

extern "C" upnp_string *getSoapPrefix(uint32_t capacity) {
  return upnp_string_create(kPrefix, capacity);
}

extern "C" upnp_string *getSoapSuffix(upnp_string *buffer) {
  if (!buffer) return nullptr;
  return upnp_string_concat(buffer, kSuffix);
}

extern "C" upnp_string *getSoapRequest(const char *format, const char *argument) {
  if (!format) return nullptr;
  upnp_string *s = getSoapPrefix(1024);
  if (!s) return nullptr;
  // The format is one of the fixed body templates with one %s.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  s = upnp_string_sprintf(s, format, argument ? argument : "");
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return getSoapSuffix(s);
}

const char *upnp_soap_service_name(unsigned service) {
  switch (service) {
    case UPNP_SERVICE_CM: return "ConnectionManager";
    case UPNP_SERVICE_RCS: return "RenderingControl";
    case UPNP_SERVICE_AVT: return "AVTransport";
    case UPNP_SERVICE_CDS: return "ContentDirectory";
    case UPNP_SERVICE_RUIS: return "RemoteUIServer";
    default: return nullptr;
  }
}

upnp_string *upnp_soap_envelope(unsigned service, const char *action, const upnp_soap_arg *args, size_t count) {
  const char *name = upnp_soap_service_name(service);
  if (!name || !action) return nullptr;
  upnp_string *s = getSoapPrefix(1024);
  s = upnp_string_sprintf(s, "<u:%s xmlns:u=\"urn:schemas-upnp-org:service:%s:1\">", action, name);
  for (size_t i = 0; s && i < count; ++i) {
    s = upnp_string_sprintf(s, "<%s>", args[i].name);
    const char *v = args[i].value ? args[i].value : "";
    if (s) s = upnp_xml_escape_append(s, v, std::strlen(v), 0, 0, 0);
    if (s) s = upnp_string_sprintf(s, "</%s>", args[i].name);
  }
  if (s) s = upnp_string_sprintf(s, "</u:%s>", action);
  return getSoapSuffix(s);
}

int upnp_soap_call(int index, int kind, unsigned service, unsigned broken_bit, const char *action,
                   const upnp_soap_arg *args, size_t count, upnp_string **reply_out) {
  if (reply_out) *reply_out = nullptr;
  upnp_string *envelope = upnp_soap_envelope(service, action, args, count);
  return invokeSoapAction2(index, kind, service, broken_bit, action, envelope, reply_out);
}
