// DIDL-Lite compliance rules: length limits and value forms per property,
// applied to element values and attribute texts by the compliant writer.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "base/upnp_mem.h"
#include "base/upnp_xml_compliant.h"
#include "base/upnp_xml_escape.h"

extern "C" const upnp_xml_exceed_entry didlExceedTable[] = {
    {"dc:title", 256, UPNP_XML_CUT_MARK},
    {"protocolInfo", 0, UPNP_XML_PROTOCOL_INFO},
    {"upnp:album", 256, UPNP_XML_CUT_MARK},
    {"upnp:genre", 256, UPNP_XML_CUT_MARK},
    {"upnp:albumArtURI", 1024, UPNP_XML_DROP},
    {"upnp:channelNr", 11, UPNP_XML_DROP},
    {"unknown", 256, UPNP_XML_DROP},
    {"dc:date", 0, UPNP_XML_DATE},
    {"upnp:class", 256, UPNP_XML_CUT},
    {"dc:creator", 256, UPNP_XML_CUT_MARK},
    {"restricted", 0, UPNP_XML_BOOLEAN},
    {"duration", 0, UPNP_XML_TIME},
    // A resource's URL goes out whole, however long: cut (and marked) it
    // would send the renderer to an address that does not exist.
    {"res", 0, UPNP_XML_WHOLE},
    {nullptr, 1024, UPNP_XML_CUT_MARK},
};

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t sequence_size(unsigned char c) {
  if ((c & 0xFE) == 0xFC) return 6;
  if ((c & 0xFC) == 0xF8) return 5;
  if ((c & 0xF8) == 0xF0) return 4;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xE0) == 0xC0) return 2;
  return 1;
}

// Appends text (escaped or not), at most `limit` bytes of output (0: all).
upnp_string *put(upnp_string *out, const char *text, size_t n, bool escape, uint32_t limit) {
  if (escape) return upnp_xml_escape_append(out, text, n, 0, limit, 0);
  if (limit != 0 && n > limit) {
    // Whole UTF-8 sequences only, as the escaper does.
    size_t used = 0;
    size_t i = 0;
    for (; i < n; ++i) {
      size_t seq = sequence_size(static_cast<unsigned char>(text[i]));
      if (used + seq > limit) break;
      ++used;
    }
    n = i;
  }
  return upnp_string_add(out, text, static_cast<uint32_t>(n));
}

// Reads up to nine decimal digits; false when there are none.
bool read_number(const char *&p, unsigned *value) {
  const char *start = p;
  unsigned v = 0;
  while (is_digit(*p) && p - start < 9) v = v * 10 + static_cast<unsigned>(*p++ - '0');
  if (p == start || is_digit(*p)) return false;
  *value = v;
  return true;
}

upnp_string *time_form(upnp_string *out, const char *value) {
  const char *p = value;
  unsigned h, m, s, ms = 0;
  if (!read_number(p, &h) || *p++ != ':' || !read_number(p, &m) || *p++ != ':' || !read_number(p, &s)) {
    return out;  // not a time: nothing written
  }
  if (*p == '.') {
    ++p;
    // The fraction is read as a whole number of milliseconds; only whole
    // seconds are written.
    if (!read_number(p, &ms)) ms = 0;
  }
  (void)ms;
  return upnp_string_sprintf(out, "%02u:%02u:%02u", h, m, s);
}

bool two_digits(const char *p, int lo, int hi) {
  if (!is_digit(p[0]) || !is_digit(p[1])) return false;
  int v = (p[0] - '0') * 10 + (p[1] - '0');
  return v >= lo && v <= hi;
}

bool date_form_ok(const char *v) {
  for (int i = 0; i < 4; ++i) {
    if (!is_digit(v[i])) return false;
  }
  return v[4] == '-' && two_digits(v + 5, 1, 12) && v[7] == '-' && two_digits(v + 8, 1, 31);
}

// protocolInfo: "protocol:network:contentFormat:additionalInfo". The fourth
// field, unless it starts with "*", keeps only its name=value parameters.
upnp_string *protocol_info_form(upnp_string *out, const char *value, bool escape) {
  const char *field4 = value;
  for (int colons = 0; colons < 3; ++colons) {
    field4 = strchr(field4, ':');
    if (field4 == nullptr) return put(out, value, strlen(value), escape, 0);
    ++field4;
  }
  out = put(out, value, static_cast<size_t>(field4 - value), escape, 0);
  if (out == nullptr || *field4 == '*') return out ? put(out, field4, strlen(field4), escape, 0) : nullptr;
  bool first = true;
  const char *p = field4;
  while (true) {
    const char *sep = strchr(p, ';');
    size_t len = sep ? static_cast<size_t>(sep - p) : strlen(p);
    const char *eq = static_cast<const char *>(memchr(p, '=', len));
    bool keep = eq != nullptr && eq > p;
    for (const char *q = eq ? eq + 1 : p; keep && q < p + len; ++q) {
      if (is_space(*q)) keep = false;  // text after the value
    }
    if (keep) {
      if (!first) out = upnp_string_append(out, ';');
      if (out != nullptr) out = put(out, p, len, escape, 0);
      if (out == nullptr) return nullptr;
      first = false;
    }
    if (sep == nullptr) break;
    p = sep + 1;
  }
  return out;
}

}  // namespace

extern "C" const upnp_xml_exceed_entry *upnp_xml_exceed_lookup(const char *property) {
  const upnp_xml_exceed_entry *e = didlExceedTable;
  for (; e->name != nullptr; ++e) {
    if (property != nullptr && strcmp(e->name, property) == 0) return e;
  }
  return e;
}

extern "C" upnp_string *addCompliantString(upnp_string *out, const char *property, const char *value,
                                           int escape) {
  if (out == nullptr) {
    out = upnp_string_create("", 1024);
    if (out == nullptr) return nullptr;
  }
  if (value == nullptr) return out;
  size_t n = strlen(value);
  bool esc = escape != 0;
  if (property == nullptr || *property == '\0') return put(out, value, n, esc, 0);

  const upnp_xml_exceed_entry *e = upnp_xml_exceed_lookup(property);
  switch (e->rule) {
    case UPNP_XML_TIME:
      return time_form(out, value);
    case UPNP_XML_DATE:
      return date_form_ok(value) ? put(out, value, n, esc, 0) : out;
    case UPNP_XML_BOOLEAN:
      return upnp_string_append(out, (value[0] == '0' || strcmp(value, "false") == 0) ? '0' : '1');
    case UPNP_XML_PROTOCOL_INFO:
      return protocol_info_form(out, value, esc);
    case UPNP_XML_WHOLE:
      return put(out, value, n, esc, 0);
    case UPNP_XML_CUT:
    case UPNP_XML_CUT_MARK:
    case UPNP_XML_DROP:
      break;
  }
  size_t written = esc ? upnp_xml_escaped_length(value, n, 0, 0) : n;
  if (written <= e->maximum) return put(out, value, n, esc, 0);
  switch (e->rule) {
    case UPNP_XML_CUT:
      return put(out, value, n, esc, e->maximum);
    case UPNP_XML_CUT_MARK:
      out = put(out, value, n, esc, e->maximum - 3);
      return out ? upnp_string_concat(out, "...") : nullptr;
    default:
      return out;  // dropped
  }
}
