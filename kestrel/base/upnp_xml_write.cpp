// Writing XML trees back to text, plain, escaped or DIDL-Lite compliant.

#include <stdint.h>
#include <string.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_compliant.h"
#include "base/upnp_xml_escape.h"
#include "base/upnp_xml_write.h"

namespace {

struct Mode {
  bool pretty;
  bool compliant;
  bool escape;
};

upnp_string *put_text(upnp_string *out, const char *text, bool escape) {
  if (text == nullptr) return out;
  size_t n = strlen(text);
  if (escape) return upnp_xml_escape_append(out, text, n, 0, 0, 0);
  return upnp_string_add(out, text, static_cast<uint32_t>(n));
}

upnp_string *put_indent(upnp_string *out, int indent) {
  static const char kSpaces[] = "                                                                ";
  while (out != nullptr && indent > 0) {
    int n = indent < 64 ? indent : 64;
    out = upnp_string_add(out, kSpaces, static_cast<uint32_t>(n));
    indent -= n;
  }
  return out;
}

bool is_blank(const char *s) {
  for (; *s != '\0'; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
  }
  return true;
}

// A "desc" element that names two different namespaces is not written.
bool conflicting_desc(const upnp_xml_node *node) {
  if (strcmp(node->name, "desc") != 0) return false;
  const char *ns = nullptr;
  const char *xmlns = nullptr;
  for (const upnp_xml_attribute *a = node->attributes; a != nullptr; a = a->next) {
    if (a->name == nullptr) continue;
    if (ns == nullptr && strcmp(a->name, "nameSpace") == 0) ns = a->value ? a->value : "";
    if (xmlns == nullptr && strcmp(a->name, "xmlns") == 0) xmlns = a->value ? a->value : "";
  }
  return ns != nullptr && xmlns != nullptr && strcmp(ns, xmlns) != 0;
}

upnp_string *dump(upnp_string *out, const upnp_xml_node *node, int indent, bool single, const Mode &m);

// Writes one element. `*written` tells whether anything of it remains.
upnp_string *element(upnp_string *out, const upnp_xml_node *node, int indent, const Mode &m, bool *written) {
  uint32_t start = out->length;
  *written = false;
  if (m.pretty) out = put_indent(out, indent);
  if (out) out = upnp_string_append(out, '<');
  if (out) out = put_text(out, node->name, false);

  bool attribute_written = false;
  for (const upnp_xml_attribute *a = node->attributes; out != nullptr && a != nullptr; a = a->next) {
    if (m.compliant && (a->name == nullptr || a->name[0] == '\0' || a->value == nullptr || a->value[0] == '\0')) {
      continue;
    }
    uint32_t attr_start = out->length;
    out = upnp_string_append(out, ' ');
    if (out) out = put_text(out, a->name, false);
    if (out) out = upnp_string_add(out, "=\"", 2);
    if (out == nullptr) break;
    uint32_t value_start = out->length;
    if (m.compliant) {
      out = addCompliantString(out, a->name, a->value, m.escape);
      if (out != nullptr && out->length == value_start) {
        upnp_string_cut(out, out->length - attr_start);  // reduced to nothing
        continue;
      }
    } else {
      out = put_text(out, a->value, m.escape);
    }
    if (out) out = upnp_string_append(out, '"');
    attribute_written = true;
  }
  if (out) out = upnp_string_append(out, '>');
  if (out == nullptr) return nullptr;
  uint32_t after_open = out->length;

  if (node->value != nullptr) {
    if (!m.compliant) {
      out = put_text(out, node->value, m.escape);
    } else if (node->value[0] != '\0' && !is_blank(node->value)) {
      out = addCompliantString(out, node->name, node->value, m.escape);
    }
    if (out == nullptr) return nullptr;
  }

  if (node->children != nullptr) {
    uint32_t children_start = out->length;
    if (m.pretty) out = upnp_string_append(out, '\n');
    if (out) out = dump(out, node->children, indent + 4, false, m);
    if (out == nullptr) return nullptr;
    if (out->length == children_start + (m.pretty ? 1u : 0u)) {
      upnp_string_cut(out, out->length - children_start);  // every child left out
    } else if (m.pretty) {
      out = upnp_string_append(out, '\n');
      if (out) out = put_indent(out, indent);
      if (out == nullptr) return nullptr;
    }
  }

  if (m.compliant && out->length == after_open) {
    if (!attribute_written) {
      upnp_string_cut(out, out->length - start);
      return out;
    }
    upnp_string_cut(out, 1);
    out = upnp_string_add(out, "/>", 2);
  } else {
    out = upnp_string_add(out, "</", 2);
    if (out) out = put_text(out, node->name, false);
    if (out) out = upnp_string_append(out, '>');
  }
  *written = out != nullptr;
  return out;
}

upnp_string *dump(upnp_string *out, const upnp_xml_node *node, int indent, bool single, const Mode &m) {
  bool first = true;
  for (; node != nullptr && out != nullptr; node = single ? nullptr : node->next) {
    if (m.compliant && (node->name == nullptr || node->name[0] == '\0' || conflicting_desc(node))) continue;
    if (!m.compliant && node->name == nullptr) continue;
    uint32_t mark = out->length;
    if (m.pretty && !first) out = upnp_string_append(out, '\n');
    if (out == nullptr) break;
    bool written = false;
    out = element(out, node, indent, m, &written);
    if (out == nullptr) break;
    if (written) {
      first = false;
    } else {
      upnp_string_cut(out, out->length - mark);
    }
  }
  return out;
}

// The bytes the compact writer stops at in a text: the zero that ends it
// and those it escapes.
struct Special {
  bool at[256] = {};
  constexpr Special() {
    for (int c = 0; c < 32; ++c) at[c] = true;
    for (const char *p = "\"&'<>"; *p != '\0'; ++p) at[static_cast<unsigned char>(*p)] = true;
  }
  constexpr bool operator[](unsigned char c) const { return at[c]; }
};
constexpr Special kSpecial{};

// The compact writer (no indentation, no DIDL-Lite rules), the one every
// object's metadata goes through: the same text as element() and dump()
// give in that mode, written with the room checked inline rather than
// through one upnp_string call per piece and a strlen per text.
class Compact {
 public:
  explicit Compact(upnp_string *out) : out_(out) {}
  // The text ends with its zero only here: the pieces are written without
  // one (room() keeps a byte for it).
  upnp_string *release() {
    if (out_ != nullptr) out_->buffer[out_->length] = '\0';
    return out_;
  }

  bool nodes(const upnp_xml_node *node, bool single, bool escape) {
    for (; node != nullptr; node = single ? nullptr : node->next) {
      if (node->name == nullptr) continue;
      if (!put('<') || !name(node->name)) return false;
      for (const upnp_xml_attribute *a = node->attributes; a != nullptr; a = a->next) {
        if (!put(' ') || (a->name != nullptr && !name(a->name)) || !put("=\"", 2) ||
            (a->value != nullptr && !text(a->value, escape)) || !put('"')) {
          return false;
        }
      }
      if (!put('>')) return false;
      if (node->value != nullptr && !text(node->value, escape)) return false;
      if (node->children != nullptr && !nodes(node->children, false, escape)) return false;
      if (!put("</", 2) || !name(node->name) || !put('>')) return false;
    }
    return true;
  }

 private:
  // Room for n more bytes and the terminating zero, grown as
  // upnp_string_add grows; false (the string freed and gone) when memory
  // ran out or the text would pass the 4 GiB bound.
  bool room(size_t n) {
    const uint64_t want = static_cast<uint64_t>(out_->length) + n + 1;
    return want <= out_->capacity || grow(want);
  }
  bool grow(uint64_t want) {
    char *buffer = nullptr;
    uint64_t capacity = 2 * static_cast<uint64_t>(out_->capacity);
    if (capacity < want) capacity = want;
    if (capacity > UINT32_MAX) capacity = UINT32_MAX;
    if (want <= UINT32_MAX) buffer = static_cast<char *>(upnp_realloc_impl(out_->buffer, static_cast<size_t>(capacity)));
    if (buffer == nullptr) {
      upnp_string_free(out_);
      out_ = nullptr;
      return false;
    }
    out_->buffer = buffer;
    out_->capacity = static_cast<uint32_t>(capacity);
    return true;
  }
  bool put(const char *bytes, size_t n) {
    if (!room(n)) return false;
    char *w = out_->buffer + out_->length;
    // Most pieces are a few bytes (a name, an entity): copied in place
    // rather than through a library call each.
    if (n <= 16) {
      for (size_t i = 0; i < n; ++i) w[i] = bytes[i];
    } else {
      memcpy(w, bytes, n);
    }
    out_->length += static_cast<uint32_t>(n);
    return true;
  }
  bool put(char c) {
    if (!room(1)) return false;
    out_->buffer[out_->length++] = c;
    return true;
  }
  bool name(const char *text) { return put(text, strlen(text)); }
  // A text, escaped as upnp_xml_escape_append escapes (single, "&apos;").
  bool text(const char *value, bool escape) {
    if (!escape) return name(value);
    const char *run = value;
    for (const char *p = value;; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (!kSpecial[c]) continue;
      if (p > run && !put(run, static_cast<size_t>(p - run))) return false;
      if (c == '\0') return true;
      run = p + 1;
      bool ok;
      switch (c) {
        case '"': ok = put("&quot;", 6); break;
        case '&': ok = put("&amp;", 5); break;
        case '\'': ok = put("&apos;", 6); break;
        case '<': ok = put("&lt;", 4); break;
        case '>': ok = put("&gt;", 4); break;
        default: {
          char reference[6] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
          ok = c < 10 ? put("&#", 2) && put(static_cast<char>('0' + c)) && put(';') : put(reference, 5);
          break;
        }
      }
      if (!ok) return false;
    }
  }

  upnp_string *out_;
};

upnp_string *write_tree(const upnp_xml_node *tree, int pretty, int single, int compliant, int escape) {
  if (tree == nullptr) return nullptr;
  upnp_string *out = upnp_string_create("", 1024);
  if (out != nullptr) out = dumpXml(out, tree, 0, pretty, single, compliant, escape);
  if (out == nullptr) upnp_log_impl(LOG_LEVEL_ERROR, LOG_XML, __func__, "Out of memory dumping XML");
  return out;
}

}  // namespace

extern "C" upnp_string *dumpXml(upnp_string *out, const upnp_xml_node *node, int indent, int pretty, int single,
                                int compliant, int escape) {
  if (out == nullptr) return nullptr;
  if (pretty == 0 && compliant == 0) {
    Compact writer(out);
    writer.nodes(node, single != 0, escape != 0);
    return writer.release();
  }
  Mode m{pretty != 0, compliant != 0, escape != 0};
  return dump(out, node, indent, single != 0, m);
}

extern "C" upnp_string *upnp_xml_tree_to_string(const upnp_xml_node *tree, int pretty, int single) {
  return write_tree(tree, pretty, single, 0, 0);
}

extern "C" upnp_string *upnp_xml_tree_to_string_valid(const upnp_xml_node *tree, int pretty, int single) {
  return write_tree(tree, pretty, single, 0, 1);
}

extern "C" upnp_string *upnp_xml_tree_to_compliant_string(const upnp_xml_node *tree, int pretty, int single) {
  return write_tree(tree, pretty, single, 1, 1);
}

extern "C" upnp_string *upnp_xml_node_to_string(const upnp_xml_node *tree, int pretty) {
  return upnp_xml_tree_to_string(tree, pretty, 0);
}
