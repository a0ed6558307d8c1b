// Reading replies: the UPnP error code of a fault body, and out-arguments
// taken from the parsed reply by their exact element names.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_soap_internal.h"

extern "C" unsigned upnp_soap_error_code(const char *reply) {
  if (!reply) return 0;
  static const char kTag[] = "errorCode";
  const char *p = reply;
  while ((p = std::strstr(p, kTag)) != nullptr) {
    if (p == reply || (p[-1] != '<' && p[-1] != ':')) {
      p += sizeof kTag - 1;
      continue;
    }
    bool prefixed = p[-1] == ':';
    const char *close = std::strchr(p, '>');
    if (!close) return 0;
    unsigned long code = std::strtoul(close + 1, nullptr, 10);
    if (code > 0xffffffffUL) code = 0;
    if (prefixed) return code == 801 ? 801u : 0u;
    return static_cast<unsigned>(code);
  }
  return 0;
}

const char *upnp_soap_out_text(upnp_xml_node *reply, const char *name) {
  upnp_xml_node *n = upnp_xml_find_tag(reply, name);
  return n ? n->value : nullptr;
}

int upnp_soap_out_copy(upnp_xml_node *reply, const char *name, char **out, int empty_ok) {
  if (!out) return 0;
  *out = nullptr;
  const char *v = upnp_soap_out_text(reply, name);
  if (!v) {
    // An element that is present but empty is an empty value.
    if (upnp_xml_find_tag(reply, name)) v = "";
    else if (empty_ok) v = "";
    else return UPNP_E_BAD_RESPONSE;
  }
  *out = upnp_strdup_impl(v);
  return *out ? 0 : UPNP_E_OUT_OF_MEMORY;
}

int upnp_soap_out_int(upnp_xml_node *reply, const char *name) {
  const char *v = upnp_soap_out_text(reply, name);
  return v ? std::atoi(v) : 0;
}

int upnp_soap_out_digit(upnp_xml_node *reply, const char *name, unsigned *out) {
  if (out) *out = 0;
  const char *v = upnp_soap_out_text(reply, name);
  if (!v || !std::isdigit(static_cast<unsigned char>(*v))) return UPNP_E_BAD_RESPONSE;
  unsigned long n = std::strtoul(v, nullptr, 10);
  if (out) *out = n > 0xffffffffUL ? 0xffffffffu : static_cast<unsigned>(n);
  return 0;
}

int upnp_soap_out_bool(upnp_xml_node *reply, const char *name, int *out) {
  if (out) *out = 0;
  const char *v = upnp_soap_out_text(reply, name);
  int value = -1;
  if (v) {
    if (std::isdigit(static_cast<unsigned char>(*v))) value = *v != '0';
    else if (strcasecmp(v, "true") == 0 || strcasecmp(v, "yes") == 0) value = 1;
    else if (strcasecmp(v, "false") == 0 || strcasecmp(v, "no") == 0) value = 0;
  }
  if (value < 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "Invalid boolean result: %s", v ? v : "(none)");
    return UPNP_E_BAD_RESPONSE;
  }
  if (out) *out = value;
  return 0;
}
