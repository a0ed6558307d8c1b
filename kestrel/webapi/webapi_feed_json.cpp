// The JSON form of a feed: description, returned count, and the item and
// container elements with their children, attributes and values.
#include <cstring>

#include "base/upnp_mem.h"
#include "webapi/webapi_feed.h"

namespace {

upnp_string *add_escaped(upnp_string *out, const char *format, const char *separator, const char *name,
                         const char *value) {
  // Names are escaped as values are: a lax parse may leave quotes in them.
  char *escaped_name = jsonEscape(name ? name : "");
  char *escaped = jsonEscape(value ? value : "");
  out = upnp_string_sprintf(out, format, separator, escaped_name ? escaped_name : "", escaped ? escaped : "");
  upnp_free_impl(escaped_name);
  upnp_free_impl(escaped);
  return out;
}

upnp_string *add_list(upnp_string *out, upnp_xml_node *root, const char *name, bool *any) {
  upnp_xml_node *node = upnp_xml_find_tag(root, name);
  if (!node) return out;
  out = upnp_string_sprintf(out, "%s\"%s\": [\n", *any ? "," : "", name);
  *any = true;
  // Objects are separated, not followed, by commas: JSON has no trailing
  // comma (a script would take one, a JSON parser does not).
  for (bool first = true; node && out; node = upnp_xml_find_next_tag(node, name), first = false) {
    out = upnp_string_concat(out, first ? "{\n" : ",{\n");
    out = rssToJSONSubnode(out, node->children);
    out = upnp_string_concat(out, "}\n");
  }
  return upnp_string_concat(out, "]\n");
}

}  // namespace

upnp_string *rssToJSONSubnode(upnp_string *out, upnp_xml_node *node) {
  bool first = true;
  for (; node && out; node = node->next) {
    if (!node->name) continue;
    const char *separator = first ? "" : ",";
    first = false;
    if (node->attributes) {
      out = add_escaped(out, "%s\"%s\": {\n \"value\":\"%s\"\n", separator, node->name, node->value);
      for (upnp_xml_attribute *a = node->attributes; a && out; a = a->next) {
        if (!a->name) continue;
        out = add_escaped(out, "%s\"%s\":\"%s\"\n", ",", a->name, a->value);
      }
      if (node->children) {
        out = upnp_string_concat(out, ",\n");
        out = rssToJSONSubnode(out, node->children);
      }
      out = upnp_string_concat(out, "}\n");
    } else if (node->children) {
      char *escaped_name = jsonEscape(node->name);
      out = upnp_string_sprintf(out, "%s\"%s\": {\n", separator, escaped_name ? escaped_name : "");
      upnp_free_impl(escaped_name);
      out = rssToJSONSubnode(out, node->children);
      out = upnp_string_concat(out, "}\n");
    } else {
      out = add_escaped(out, "%s\"%s\":\"%s\"\n", separator, node->name, node->value);
    }
  }
  return out;
}

upnp_string *rssToJSON(const char *feed) {
  if (!feed) return nullptr;
  upnp_xml_node *root = upnp_xml_parse(feed);
  if (!root) return nullptr;
  upnp_string *out = upnp_string_create("{\n", 1024);
  // Members after the first are preceded by a comma, whichever comes first.
  bool any = false;
  upnp_xml_node *description = upnp_xml_find_tag(root, "description");
  if (out && description && description->value) {
    out = add_escaped(out, "%s\"%s\":\"%s\"\n", "", "description", description->value);
    any = true;
  }
  upnp_xml_node *returned = upnp_xml_find_tag(root, "returneditems");
  if (out && returned && returned->value) {
    out = add_escaped(out, "%s\"%s\":\"%s\"\n", any ? "," : "", "returneditems", returned->value);
    any = true;
  }
  if (out) out = add_list(out, root, "item", &any);
  if (out) out = add_list(out, root, "container", &any);
  if (out) out = upnp_string_concat(out, "}\n");
  upnp_xml_release(root);
  return out;
}
