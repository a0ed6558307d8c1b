// The WPL text of a playlist: writing it line by line and reading it back
// through the XML parser.
//
// Texts are XML-escaped when written (the parser unescapes them when read),
// so titles, sources and attribute values with '&', '<', quotes or control
// characters come back as they were. Attribute names that are not plain XML
// names are left out: they could not be read back and would break the
// element.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_escape.h"
#include "playlist/upnp_wpl.h"
#include "playlist/upnp_wpl_internal.h"

namespace {

const char *type_letter(int type) {
  switch (type) {
    case UPNP_WPL_TYPE_PICTURES: return "P";
    case UPNP_WPL_TYPE_VIDEO: return "V";
    case UPNP_WPL_TYPE_MIXED: return "X";
    default: return "M";
  }
}

const char *source_word(int source) {
  switch (source) {
    case UPNP_WPL_SOURCE_ITUNES: return "iTunes";
    case UPNP_WPL_SOURCE_CDS: return "CDS";
    case UPNP_WPL_SOURCE_ONLINE: return "online";
    default: return "file";
  }
}

bool is_name_char(unsigned char c, bool first) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80) return true;
  return !first && ((c >= '0' && c <= '9') || c == '-' || c == '.');
}

bool is_xml_name(const char *name) {
  if (!name || !*name) return false;
  for (const char *p = name; *p; ++p) {
    if (!is_name_char(static_cast<unsigned char>(*p), p == name)) return false;
  }
  return true;
}

// Appends text escaped; false when memory ran out (the string is then gone).
bool put_escaped(upnp_string **s, const char *text) {
  *s = upnp_xml_escape_append(*s, text, std::strlen(text), 0, 0, 0);
  return *s != nullptr;
}

bool put(upnp_string **s, const char *text) {
  *s = upnp_string_concat(*s, text);
  return *s != nullptr;
}

bool put_meta(upnp_string **s, const char *name, const char *content) {
  return put(s, "    <meta name=\"") && put(s, name) && put(s, "\" content=\"") && put_escaped(s, content) &&
         put(s, "\"/>\n");
}

bool put_item(upnp_string **s, const upnp_wpl_item *item, upnp_wpl_src_filter filter, void *context) {
  const char *src = item->src;
  char *filtered = nullptr;
  if (filter) {
    filtered = filter(context, item->src, item);
    src = filtered ? filtered : "";
  }
  bool ok = put(s, "      <media src=\"") && put_escaped(s, src);
  upnp_free_impl(filtered);
  if (!ok) return false;
  if (!item->attributes) return put(s, "\"/>\n");
  if (!put(s, "\" ")) return false;
  for (const upnp_wpl_attribute *a = item->attributes; a; a = a->next) {
    if (!is_xml_name(a->name)) continue;
    if (!put(s, " ") || !put(s, a->name) || !put(s, "=\"") || !put_escaped(s, a->value) || !put(s, "\" ")) {
      return false;
    }
  }
  return put(s, " />\n");
}

// Value of a meta element's "content" attribute ("" when missing).
const char *meta_content(upnp_xml_node *meta) {
  const char *content = upnp_xml_find_attribute_value(meta, "content");
  return content ? content : "";
}

int type_from_letter(const char *text) {
  static const char *const kLetters[] = {"M", "P", "V", "X"};
  for (int i = 0; i < 4; ++i) {
    if (strcasecmp(text, kLetters[i]) == 0) return i + 1;
  }
  return UPNP_WPL_TYPE_MUSIC;
}

int source_from_word(const char *text) {
  static const char *const kWords[] = {"file", "itunes", "cds", "online"};
  for (int i = 0; i < 4; ++i) {
    if (strcasecmp(text, kWords[i]) == 0) return i + 1;
  }
  return UPNP_WPL_SOURCE_OTHER;
}

bool kept_attribute(const char *name) {
  static const char *const kKept[] = {"title", "udn", "objectId", "bookmark", "metadata"};
  for (const char *k : kKept) {
    if (std::strcmp(name, k) == 0) return true;
  }
  return false;
}

// An item from a media element; none when it has no src or memory ran out
// (*failed tells the two apart).
upnp_wpl_item *item_from_media(upnp_xml_node *media, bool *failed) {
  *failed = false;
  const char *src = upnp_xml_find_attribute_value(media, "src");
  if (!src) return nullptr;
  upnp_wpl_item *item = upnp_wpl_create_item(src);
  if (!item) {
    *failed = true;
    return nullptr;
  }
  // The parser keeps attributes in reverse document order.
  const upnp_xml_attribute *in_order[UPNP_XML_MAX_ATTRIBUTES];
  size_t count = 0;
  for (const upnp_xml_attribute *a = media->attributes; a && count < UPNP_XML_MAX_ATTRIBUTES; a = a->next) {
    in_order[count++] = a;
  }
  while (count > 0) {
    const upnp_xml_attribute *a = in_order[--count];
    if (!a->name || !kept_attribute(a->name)) continue;
    if (upnp_wpl_add_item_attribute(item, a->name, a->value ? a->value : "") != UPNP_WPL_OK) {
      upnp_wpl_free_item(item);
      *failed = true;
      return nullptr;
    }
  }
  return item;
}

}  // namespace

int wpl_write_text(const upnp_wpl_playlist *record, upnp_string **string, upnp_wpl_src_filter filter,
                   void *context) {
  if (!record->title) return UPNP_WPL_FAILED;
  upnp_string **s = string;
  char number[16];
  std::snprintf(number, sizeof number, "%d", static_cast<int>(record->item_count));
  bool ok = put(s, "<?wpl version=\"1.0\"?>\n<smil>\n  <head>\n") &&
            put_meta(s, "Generator", record->generator ? record->generator : "LumetMedia") &&
            (!record->original_file_name || put_meta(s, "OrigFilename", record->original_file_name)) &&
            put_meta(s, "ItemCount", number) && put_meta(s, "Type", type_letter(record->type)) &&
            put_meta(s, "Source", source_word(record->source)) && put(s, "    <title>") &&
            put_escaped(s, record->title) && put(s, "</title>\n") && put(s, "  </head>\n  <body>\n");
  if (ok && record->item_count > 0) {
    ok = put(s, "    <seq>\n");
    for (uint32_t i = 0; ok && i < record->item_count; ++i) ok = put_item(s, record->items[i], filter, context);
    ok = ok && put(s, "    </seq>\n");
  }
  ok = ok && put(s, "  </body>\n</smil>\n");
  return ok ? UPNP_WPL_OK : UPNP_WPL_NO_MEMORY;
}

upnp_wpl_playlist *wpl_read_text(const char *text, size_t length) {
  upnp_xml_node *root = upnp_xml_parse_len(text, length);
  if (!root) return nullptr;
  upnp_wpl_playlist *record = wpl_new_record(nullptr, UPNP_WPL_TYPE_MUSIC, UPNP_WPL_SOURCE_FILE, nullptr, nullptr);
  bool ok = record != nullptr;
  if (ok) {
    upnp_xml_node *title = upnp_xml_find_tag(root, "title");
    if (title && title->value && *title->value) ok = wpl_set_text(&record->title, title->value);
  }
  upnp_xml_node **nodes = nullptr;
  uint32_t count = 0;
  if (ok && upnp_xml_find_all_nodes(root, "meta", &nodes, &count) < 0) ok = false;
  for (uint32_t i = 0; ok && i < count; ++i) {
    const char *name = upnp_xml_find_attribute_value(nodes[i], "name");
    if (!name) continue;
    const char *content = meta_content(nodes[i]);
    if (strcasecmp(name, "Type") == 0) {
      record->type = type_from_letter(content);
    } else if (strcasecmp(name, "Source") == 0) {
      record->source = source_from_word(content);
    } else if (strcasecmp(name, "Generator") == 0) {
      ok = wpl_set_text(&record->generator, content);
    } else if (strcasecmp(name, "OrigFilename") == 0) {
      ok = wpl_set_text(&record->original_file_name, content);
    }
  }
  upnp_free_impl(nodes);
  nodes = nullptr;
  count = 0;
  if (ok && upnp_xml_find_all_nodes(root, "media", &nodes, &count) < 0) ok = false;
  for (uint32_t i = 0; ok && i < count; ++i) {
    bool failed = false;
    upnp_wpl_item *item = item_from_media(nodes[i], &failed);
    if (failed) ok = false;
    if (item && !wpl_append_item(record, item)) {
      upnp_wpl_free_item(item);
      ok = false;
    }
  }
  upnp_free_impl(nodes);
  upnp_xml_release(root);
  if (!ok) {
    wpl_free_record(record);
    return nullptr;
  }
  return record;
}

extern "C" int upnp_wpl_convert_to_xml(uint32_t handle, upnp_string **string) {
  return upnp_wpl_convert_to_xml_with_filter(handle, string, nullptr, nullptr);
}

extern "C" int upnp_wpl_convert_to_xml_with_filter(uint32_t handle, upnp_string **string,
                                                   upnp_wpl_src_filter filter, void *context) {
  if (!string) return UPNP_WPL_FAILED;
  wpl_guard hold;
  upnp_wpl_playlist *record = hold.ok() ? wpl_record(handle) : nullptr;
  if (!record) return UPNP_WPL_FAILED;
  return wpl_write_text(record, string, filter, context);
}

extern "C" int upnp_wpl_convert_from_xml(uint32_t *handle, const char *text) {
  if (!handle) return UPNP_WPL_FAILED;
  *handle = 0;
  if (!text) return UPNP_WPL_FAILED;
  wpl_guard hold;
  if (!hold.ok()) return UPNP_WPL_FAILED;
  upnp_wpl_playlist *record = wpl_read_text(text, std::strlen(text));
  if (!record) return UPNP_WPL_FAILED;
  // A playlist without a title could never be written again.
  if (!record->title) {
    wpl_free_record(record);
    return UPNP_WPL_FAILED;
  }
  *handle = wpl_add_record(record, true);
  return *handle ? UPNP_WPL_OK : UPNP_WPL_FAILED;
}
