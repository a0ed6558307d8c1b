// Entity escaping for values written into XML, and the in-place unescaper
// the parser applies to values and attribute texts.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"

namespace {

// The escaped form of one byte: `text` of `len` bytes, or len 0 when the
// byte is copied as it is. Control bytes are formatted into `buf`.
struct Piece {
  const char *text;
  size_t len;
};

inline bool needs_escape(unsigned char c) {
  return c < 32 || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>';
}

Piece piece_for(unsigned char c, bool dbl, bool apos_numeric, char *buf) {
  // Double escaping writes "&amp;" in place of each entity's own "&".
  const char *amp = dbl ? "&amp;" : "&";
  const char *body;
  switch (c) {
    case '"': body = "quot;"; break;
    case '&': body = "amp;"; break;
    case '\'': body = apos_numeric ? "#39;" : "apos;"; break;
    case '<': body = "lt;"; break;
    case '>': body = "gt;"; break;
    default:
      if (c >= 32) return {nullptr, 0};
      {
        int n = snprintf(buf, 16, "%s#%d;", amp, c);
        return {buf, static_cast<size_t>(n)};
      }
  }
  int n = snprintf(buf, 16, "%s%s", amp, body);
  return {buf, static_cast<size_t>(n)};
}

// Bytes of the UTF-8 sequence a lead byte begins.
inline size_t sequence_size(unsigned char c) {
  if ((c & 0xFE) == 0xFC) return 6;
  if ((c & 0xFC) == 0xF8) return 5;
  if ((c & 0xF8) == 0xF0) return 4;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xE0) == 0xC0) return 2;
  return 1;
}

// How many input bytes fit into `limit` output bytes (0: all).
size_t fitting_input(const unsigned char *s, size_t n, bool dbl, bool apos_numeric, size_t limit) {
  if (limit == 0) return n;
  size_t out = 0;
  char buf[16];
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = s[i];
    size_t len = needs_escape(c) ? piece_for(c, dbl, apos_numeric, buf).len : 1;
    size_t need = len;
    if (c >= 32) {
      size_t seq = sequence_size(c);
      if (seq > need) need = seq;
    }
    if (out + need > limit) return i;
    out += len;
  }
  return n;
}

// Writes the escaped bytes through `emit(bytes, count)`.
template <typename Emit>
bool emit_escaped(const unsigned char *s, size_t n, bool dbl, bool apos_numeric, Emit emit) {
  size_t run = 0;
  char buf[16];
  for (size_t i = 0; i < n; ++i) {
    if (!needs_escape(s[i])) continue;
    if (i > run && !emit(reinterpret_cast<const char *>(s + run), i - run)) return false;
    Piece p = piece_for(s[i], dbl, apos_numeric, buf);
    if (!emit(p.text, p.len)) return false;
    run = i + 1;
  }
  if (n > run && !emit(reinterpret_cast<const char *>(s + run), n - run)) return false;
  return true;
}

// Writes code point `v` (1..0xFFFF) at `w` as UTF-8; returns the bytes used.
size_t put_utf8(char *w, unsigned v) {
  if (v < 0x80) {
    w[0] = static_cast<char>(v);
    return 1;
  }
  if (v < 0x800) {
    w[0] = static_cast<char>(0xC0 | (v >> 6));
    w[1] = static_cast<char>(0x80 | (v & 0x3F));
    return 2;
  }
  w[0] = static_cast<char>(0xE0 | (v >> 12));
  w[1] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
  w[2] = static_cast<char>(0x80 | (v & 0x3F));
  return 3;
}

// A numeric reference at r ("&#..."): its length and value, or 0.
size_t numeric_reference(const char *r, unsigned *value) {
  const char *p = r + 2;  // after "&#"
  bool hex = *p == 'x';
  if (hex) ++p;
  const char *digits = p;
  unsigned v = 0;
  for (;; ++p) {
    char c = *p;
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    v = v * (hex ? 16 : 10) + d;
    if (p - (r + 1) >= 5) return 0;  // the ";" must come within five after "#"
  }
  if (p == digits || *p != ';' || p - (r + 1) > 5) return 0;
  *value = v;
  return static_cast<size_t>(p + 1 - r);
}

struct Entity {
  const char *text;
  size_t len;
  char c;
};

const Entity kEntities[] = {
    {"&amp;", 5, '&'}, {"&nbsp;", 6, ' '}, {"&lt;", 4, '<'},
    {"&gt;", 4, '>'},  {"&apos;", 6, '\''}, {"&quot;", 6, '"'},
};

}  // namespace

extern "C" size_t upnp_xml_escaped_length(const char *text, size_t length, int dbl, int apos_numeric) {
  if (text == nullptr) return 0;
  size_t total = 0;
  char buf[16];
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
  for (size_t i = 0; i < length; ++i) {
    total += needs_escape(s[i]) ? piece_for(s[i], dbl != 0, apos_numeric != 0, buf).len : 1;
  }
  return total;
}

extern "C" char *upnp_xml_escape_cond(const char *text, int dbl) {
  if (text == nullptr) return nullptr;
  size_t n = strlen(text);
  size_t out_len = upnp_xml_escaped_length(text, n, dbl, 0);
  char *out = static_cast<char *>(upnp_malloc_impl(out_len + 1));
  if (out == nullptr) return nullptr;
  char *w = out;
  emit_escaped(reinterpret_cast<const unsigned char *>(text), n, dbl != 0, false,
               [&w](const char *bytes, size_t count) {
                 memcpy(w, bytes, count);
                 w += count;
                 return true;
               });
  *w = '\0';
  return out;
}

extern "C" char *upnp_xml_escape(const char *text) { return upnp_xml_escape_cond(text, 1); }

extern "C" upnp_string *upnp_xml_escape_append(upnp_string *out, const char *text, size_t length, int dbl,
                                               uint32_t limit, int apos_numeric) {
  if (out == nullptr) {
    out = upnp_string_create("", 1024);
    if (out == nullptr) return nullptr;
  }
  if (text == nullptr || length == 0) return out;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
  size_t n = fitting_input(s, length, dbl != 0, apos_numeric != 0, limit);
  bool ok = emit_escaped(s, n, dbl != 0, apos_numeric != 0, [&out](const char *bytes, size_t count) {
    out = upnp_string_add(out, bytes, static_cast<uint32_t>(count));
    return out != nullptr;
  });
  return ok ? out : nullptr;
}

extern "C" upnp_string *upnp_xml_escape_cond_upnp_string(const char *text, int dbl, uint32_t limit) {
  upnp_string *out = upnp_string_create("", 1024);
  if (out == nullptr || text == nullptr) return out;
  return upnp_xml_escape_append(out, text, strlen(text), dbl, limit, 0);
}

extern "C" char *upnp_xml_unescape(char *text) {
  if (text == nullptr) return nullptr;
  char *r = strchr(text, '&');
  if (r == nullptr) return text;
  char *w = r;
  while (*r != '\0') {
    if (*r != '&') {
      // Move the whole run up to the next '&' at once: escaped documents
      // (a Browse result) are long and dense with references.
      const char *amp = strchr(r, '&');
      const size_t n = amp != nullptr ? static_cast<size_t>(amp - r) : strlen(r);
      memmove(w, r, n);
      w += n;
      r += n;
      continue;
    }
    bool done = false;
    for (const Entity &e : kEntities) {
      // The name's first letter decides before any comparison of the rest.
      if (e.text[1] == r[1] && strncmp(r, e.text, e.len) == 0) {
        *w++ = e.c;
        r += e.len;
        done = true;
        break;
      }
    }
    if (done) continue;
    unsigned value = 0;
    size_t len = r[1] == '#' ? numeric_reference(r, &value) : 0;
    if (len != 0 && value != 0) {
      // At most three bytes replace at least four ("&#N;" with N >= 128 has
      // three digits or more), so writing never overtakes reading.
      w += put_utf8(w, value);
      r += len;
    } else {
      *w++ = *r++;
    }
  }
  *w = '\0';
  return text;
}
