// Arbitrary bytes to the XML parser (over exactly the input's length, no
// terminating zero), then every writer, then the parser again on what was
// written. Aborts on any broken invariant:
// - a parse never claims more bytes than it was given, and no tree is
//   deeper than the depth limit;
// - escaping then unescaping any value gives it back, and a limited escape
//   stays within its limit;
// - a tree whose names are plain XML names, written with escaping, parses
//   back to the same tree (attribute lists reversed by each parse);
// - the compliant form of such a tree parses again unless it is empty;
// - all accounted memory is given back.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_escape.h"
#include "base/upnp_xml_write.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool plain_name(const char *s) {
  if (s == nullptr || *s == '\0') return false;
  for (; *s; ++s) {
    char c = *s;
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// Escaping then unescaping gives the text back; a limited escape stays
// within its limit.
void check_text(const char *t) {
  for (int dbl = 0; dbl <= 1; ++dbl) {
    char *e = upnp_xml_escape_cond(t, dbl);
    check(e != nullptr);
    upnp_xml_unescape(e);
    if (dbl) upnp_xml_unescape(e);
    check(strcmp(e, t) == 0);
    upnp_free_impl(e);
  }
  upnp_string *lim = upnp_xml_escape_cond_upnp_string(t, 0, 17);
  check(lim != nullptr && lim->length <= 17);
  upnp_string_free(lim);
}

// Walks the tree: depth, consumed lengths, texts; returns whether every
// element and attribute name is plain.
bool walk(const upnp_xml_node *node, int depth, size_t available) {
  bool plain = true;
  for (; node != nullptr; node = node->next) {
    check(depth <= UPNP_XML_MAX_DEPTH);
    check(node->consumed <= available);
    check(node->name != nullptr);
    plain = plain_name(node->name) && plain;
    if (node->value != nullptr) {
      check(node->children == nullptr);
      check_text(node->value);
    }
    for (const upnp_xml_attribute *a = node->attributes; a; a = a->next) {
      check(a->name != nullptr && a->value != nullptr);
      plain = plain_name(a->name) && plain;
      check_text(a->value);
    }
    if (node->children) plain = walk(node->children, depth + 1, available) && plain;
  }
  return plain;
}

bool same_text(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strcmp(a, b) == 0;
}

// Same names, values and children; attributes in reverse order when `b` is
// `a` parsed again, in the same order when it is a copy.
bool same_tree(const upnp_xml_node *a, const upnp_xml_node *b, bool reversed) {
  for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
    if (!same_text(a->name, b->name) || !same_text(a->value, b->value)) return false;
    int na = 0, nb = 0;
    for (const upnp_xml_attribute *x = a->attributes; x; x = x->next) ++na;
    for (const upnp_xml_attribute *x = b->attributes; x; x = x->next) ++nb;
    if (na != nb) return false;
    for (int i = 0; i < na; ++i) {
      const upnp_xml_attribute *x = a->attributes;
      for (int k = 0; k < i; ++k) x = x->next;
      const upnp_xml_attribute *y = b->attributes;
      for (int k = 0; k < (reversed ? na - 1 - i : i); ++k) y = y->next;
      if (!same_text(x->name, y->name) || !same_text(x->value, y->value)) return false;
    }
    if (!same_tree(a->children, b->children, reversed)) return false;
  }
  return a == nullptr && b == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const int64_t before = upnp_mem_used();
  const char *text = reinterpret_cast<const char *>(data);
  upnp_xml_node *tree = upnp_xml_parse_len(text, size);
  if (tree != nullptr) {
    check(tree->next == nullptr);
    bool plain = walk(tree, 1, size);

    upnp_string *raw = upnp_xml_tree_to_string(tree, 1, 0);
    check(raw != nullptr);
    upnp_string_free(raw);

    upnp_string *valid = upnp_xml_tree_to_string_valid(tree, 0, 0);
    check(valid != nullptr);
    upnp_xml_node *again = upnp_xml_parse_len(valid->buffer, valid->length);
    if (plain) check(again != nullptr && same_tree(tree, again, true));
    upnp_xml_release(again);
    upnp_string_free(valid);

    for (int pretty = 0; pretty <= 1; ++pretty) {
      upnp_string *compliant = upnp_xml_tree_to_compliant_string(tree, pretty, 0);
      check(compliant != nullptr);
      upnp_xml_node *reparsed = upnp_xml_parse(compliant->buffer);
      if (plain && compliant->length > 0) check(reparsed != nullptr);
      upnp_xml_release(reparsed);
      upnp_string_free(compliant);
    }

    upnp_xml_node *copy = upnp_xml_copy_tree(tree);
    check(copy != nullptr && same_tree(tree, copy, false));
    upnp_xml_release(tree);
    upnp_xml_release(copy);
  }
  check(upnp_mem_used() == before);
  return 0;
}
