#ifndef TESTS_BASE_XML_TEST_UTIL_H
#define TESTS_BASE_XML_TEST_UTIL_H

// Small owners for trees and strings so that a failing assertion leaks
// nothing into the next test's memory accounting.

#include <string>

#include "base/upnp_string.h"
#include "base/upnp_xml.h"

struct XmlTree {
  upnp_xml_node *node;
  explicit XmlTree(upnp_xml_node *n = nullptr) : node(n) {}
  ~XmlTree() { upnp_xml_release(node); }
  XmlTree(const XmlTree &) = delete;
  XmlTree &operator=(const XmlTree &) = delete;
  upnp_xml_node *operator->() const { return node; }
  upnp_xml_node *get() const { return node; }
};

struct XmlText {
  upnp_string *s;
  explicit XmlText(upnp_string *str) : s(str) {}
  ~XmlText() { upnp_string_free(s); }
  XmlText(const XmlText &) = delete;
  XmlText &operator=(const XmlText &) = delete;
  std::string str() const { return s ? std::string(s->buffer, s->length) : std::string("<none>"); }
};

// Attribute texts of a node in list order, "name=value;..."
inline std::string attribute_list(const upnp_xml_node *node) {
  std::string out;
  for (const upnp_xml_attribute *a = node->attributes; a; a = a->next) {
    out += a->name;
    out += '=';
    out += a->value ? a->value : "<none>";
    out += ';';
  }
  return out;
}

// Names of the children in order, "a,b,c".
inline std::string child_names(const upnp_xml_node *node) {
  std::string out;
  for (const upnp_xml_node *c = node->children; c; c = c->next) {
    if (!out.empty()) out += ',';
    out += c->name;
  }
  return out;
}

#endif
