// Building, searching, copying and releasing XML trees.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_arena.h"

namespace {

bool name_is(const upnp_xml_node *node, const char *name) {
  return node->name != nullptr && strcmp(node->name, name) == 0;
}

// Depth-first in document order over the node, its subtree and its
// following siblings. Recursion follows children only, so it is as deep as
// the tree; siblings are walked in a loop.
upnp_xml_node *find_from(upnp_xml_node *node, const char *name) {
  for (; node != nullptr; node = node->next) {
    if (name_is(node, name)) return node;
    if (node->children != nullptr) {
      upnp_xml_node *found = find_from(node->children, name);
      if (found != nullptr) return found;
    }
  }
  return nullptr;
}

bool push_node(upnp_xml_node ***array, uint32_t *count, upnp_xml_node *node) {
  // Arrays made here hold 8 references, then double: they are full exactly
  // when the count is 8 or more and a power of two.
  uint32_t n = *count;
  if (*array == nullptr || (n >= 8 && (n & (n - 1)) == 0)) {
    uint32_t cap = n < 8 ? 8 : n * 2;
    void *grown = upnp_realloc_impl(*array, sizeof(upnp_xml_node *) * cap);
    if (grown == nullptr) return false;
    *array = static_cast<upnp_xml_node **>(grown);
  }
  (*array)[n] = node;
  *count = n + 1;
  return true;
}

int collect(upnp_xml_node *node, const char *name, upnp_xml_node ***array, uint32_t *count) {
  int added = 0;
  for (; node != nullptr; node = node->next) {
    if (name_is(node, name)) {
      if (!push_node(array, count, node)) return -1;
      ++added;
    }
    if (node->children != nullptr) {
      int sub = collect(node->children, name, array, count);
      if (sub < 0) return -1;
      added += sub;
    }
  }
  return added;
}

upnp_xml_attribute *copy_attribute(const upnp_xml_attribute *a) {
  upnp_xml_attribute *c = static_cast<upnp_xml_attribute *>(upnp_malloc_impl(sizeof(upnp_xml_attribute)));
  if (c == nullptr) return nullptr;
  c->next = nullptr;
  c->arena = nullptr;
  c->arena_texts = 0;
  c->name = upnp_strdup_impl(a->name);
  c->value = upnp_strdup_impl(a->value);
  if ((a->name != nullptr && c->name == nullptr) || (a->value != nullptr && c->value == nullptr)) {
    upnp_xml_release_attributes(c);
    return nullptr;
  }
  return c;
}

upnp_xml_node *copy_one(const upnp_xml_node *node) {
  upnp_xml_node *c = static_cast<upnp_xml_node *>(upnp_malloc_impl(sizeof(upnp_xml_node)));
  if (c == nullptr) return nullptr;
  c->name = upnp_strdup_impl(node->name);
  c->value = upnp_strdup_impl(node->value);
  c->attributes = nullptr;
  c->next = nullptr;
  c->children = nullptr;
  c->consumed = node->consumed;
  c->arena = nullptr;
  c->arena_texts = 0;
  bool ok = (node->name == nullptr || c->name != nullptr) && (node->value == nullptr || c->value != nullptr);
  if (ok && node->attributes != nullptr) {
    c->attributes = upnp_xml_copy_attributes(node->attributes);
    ok = c->attributes != nullptr;
  }
  if (ok && node->children != nullptr) {
    c->children = upnp_xml_copy_tree(node->children);
    ok = c->children != nullptr;
  }
  if (!ok) {
    upnp_xml_release(c);
    return nullptr;
  }
  return c;
}

uint64_t parse_decimal(const char *s, uint64_t max) {
  uint64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    unsigned d = static_cast<unsigned>(*s - '0');
    if (v > (max - d) / 10) return max;
    v = v * 10 + d;
  }
  return v;
}

}  // namespace

namespace {

// Counts released records per block store and hands the count over when the
// walk moves to another store or ends. A store can only empty once all its
// records were counted, and a record is counted after it was last read.
class Releaser {
 public:
  ~Releaser() { flush(); }
  void record(upnp_xml_arena *arena, void *record) {
    if (arena == nullptr) {
      upnp_free_impl(record);
      return;
    }
    if (arena != arena_) {
      flush();
      arena_ = arena;
    }
    ++count_;
  }
  void text(char *text, unsigned arena_texts, unsigned bit) {
    if ((arena_texts & bit) == 0) upnp_free_impl(text);
  }
  void attributes(upnp_xml_attribute *list) {
    while (list != nullptr) {
      upnp_xml_attribute *next = list->next;
      text(list->name, list->arena_texts, UPNP_XML_ARENA_NAME);
      text(list->value, list->arena_texts, UPNP_XML_ARENA_VALUE);
      record(list->arena, list);
      list = next;
    }
  }
  void nodes(upnp_xml_node *node) {
    while (node != nullptr) {
      upnp_xml_node *next = node->next;
      nodes(node->children);
      attributes(node->attributes);
      text(node->name, node->arena_texts, UPNP_XML_ARENA_NAME);
      text(node->value, node->arena_texts, UPNP_XML_ARENA_VALUE);
      record(node->arena, node);
      node = next;
    }
  }

 private:
  void flush() {
    if (arena_ != nullptr) upnp_xml_arena_drop(arena_, count_);
    arena_ = nullptr;
    count_ = 0;
  }
  upnp_xml_arena *arena_ = nullptr;
  uint64_t count_ = 0;
};

// Replaces *slot with a copy of text; `bit` of *arena_texts marks a text in
// the block store, which is left alone.
int replace_text(char **slot, unsigned *arena_texts, unsigned bit, const char *text) {
  char *copy = upnp_strdup_impl(text);
  if (text != nullptr && copy == nullptr) return -1;
  if ((*arena_texts & bit) == 0) upnp_free_impl(*slot);
  *slot = copy;
  *arena_texts &= ~bit;
  return 0;
}

}  // namespace

extern "C" void upnp_xml_release_attributes(upnp_xml_attribute *list) {
  Releaser r;
  r.attributes(list);
}

extern "C" void upnp_xml_release(upnp_xml_node *node) {
  Releaser r;
  r.nodes(node);
}

extern "C" int upnp_xml_set_name(upnp_xml_node *node, const char *text) {
  if (node == nullptr) return -1;
  return replace_text(&node->name, &node->arena_texts, UPNP_XML_ARENA_NAME, text);
}

extern "C" int upnp_xml_set_value(upnp_xml_node *node, const char *text) {
  if (node == nullptr) return -1;
  return replace_text(&node->value, &node->arena_texts, UPNP_XML_ARENA_VALUE, text);
}

extern "C" int upnp_xml_set_attribute_value(upnp_xml_attribute *attribute, const char *text) {
  if (attribute == nullptr) return -1;
  return replace_text(&attribute->value, &attribute->arena_texts, UPNP_XML_ARENA_VALUE, text);
}

extern "C" upnp_xml_attribute *upnp_xml_add_attribute(upnp_xml_node *node, const char *name, const char *value) {
  if (node == nullptr) return nullptr;
  upnp_xml_attribute *a = upnp_xml_new_attribute(name, value);
  if (a == nullptr) return nullptr;
  a->next = node->attributes;
  node->attributes = a;
  return a;
}

extern "C" upnp_xml_node *upnp_xml_new_node(const char *name, const char *value) {
  upnp_xml_node *node = static_cast<upnp_xml_node *>(upnp_malloc_impl(sizeof(upnp_xml_node)));
  if (node == nullptr) return nullptr;
  node->name = upnp_strdup_impl(name);
  node->value = upnp_strdup_impl(value);
  node->attributes = nullptr;
  node->next = nullptr;
  node->children = nullptr;
  node->consumed = 0;
  node->arena = nullptr;
  node->arena_texts = 0;
  if ((name != nullptr && node->name == nullptr) || (value != nullptr && node->value == nullptr)) {
    upnp_xml_release(node);
    return nullptr;
  }
  return node;
}

extern "C" upnp_xml_attribute *upnp_xml_new_attribute(const char *name, const char *value) {
  upnp_xml_attribute a;
  a.name = const_cast<char *>(name);
  a.value = const_cast<char *>(value);
  a.next = nullptr;
  return copy_attribute(&a);
}

extern "C" int upnp_xml_add_as_subnode(upnp_xml_node *parent, upnp_xml_node *node) {
  if (parent == nullptr || node == nullptr) return -1;
  upnp_xml_node **link = &parent->children;
  while (*link != nullptr) link = &(*link)->next;
  *link = node;
  return 0;
}

extern "C" upnp_xml_node *upnp_xml_find_tag(upnp_xml_node *node, const char *name) {
  if (name == nullptr) return nullptr;
  return find_from(node, name);
}

extern "C" upnp_xml_node *upnp_xml_find_next_tag(upnp_xml_node *node, const char *name) {
  if (node == nullptr || name == nullptr) return nullptr;
  return find_from(node->next, name);
}

extern "C" const char *upnp_xml_find_tag_value(upnp_xml_node *node, const char *name) {
  upnp_xml_node *found = upnp_xml_find_tag(node, name);
  return found != nullptr ? found->value : nullptr;
}

extern "C" int upnp_xml_find_tag_value_int(upnp_xml_node *node, const char *name) {
  const char *value = upnp_xml_find_tag_value(node, name);
  return value != nullptr ? atoi(value) : 0;
}

extern "C" uint32_t upnp_xml_find_tag_value_uint(upnp_xml_node *node, const char *name, uint32_t def) {
  const char *value = upnp_xml_find_tag_value(node, name);
  if (value == nullptr || value[0] < '0' || value[0] > '9') return def;
  return static_cast<uint32_t>(parse_decimal(value, UINT32_MAX));
}

extern "C" uint64_t upnp_xml_find_tag_value_uint64(upnp_xml_node *node, const char *name, uint64_t def) {
  const char *value = upnp_xml_find_tag_value(node, name);
  if (value == nullptr || value[0] < '0' || value[0] > '9') return def;
  return parse_decimal(value, UINT64_MAX);
}

extern "C" upnp_xml_attribute *upnp_xml_find_attribute(upnp_xml_attribute *list, const char *name) {
  if (name == nullptr) return nullptr;
  for (; list != nullptr; list = list->next) {
    if (list->name != nullptr && strcmp(list->name, name) == 0) return list;
  }
  return nullptr;
}

extern "C" const char *upnp_xml_find_attribute_value(upnp_xml_node *node, const char *name) {
  if (node == nullptr) return nullptr;
  upnp_xml_attribute *a = upnp_xml_find_attribute(node->attributes, name);
  return a != nullptr ? a->value : nullptr;
}

extern "C" int upnp_xml_find_all_nodes(upnp_xml_node *node, const char *name, upnp_xml_node ***array,
                                       uint32_t *count) {
  if (name == nullptr || array == nullptr || count == nullptr) return -1;
  if (*array == nullptr) *count = 0;
  return collect(node, name, array, count);
}

extern "C" upnp_xml_attribute *upnp_xml_copy_attributes(const upnp_xml_attribute *list) {
  upnp_xml_attribute *head = nullptr;
  upnp_xml_attribute **link = &head;
  for (; list != nullptr; list = list->next) {
    upnp_xml_attribute *c = copy_attribute(list);
    if (c == nullptr) {
      upnp_xml_release_attributes(head);
      return nullptr;
    }
    *link = c;
    link = &c->next;
  }
  return head;
}

extern "C" upnp_xml_node *upnp_xml_copy_node(const upnp_xml_node *node) {
  if (node == nullptr) return nullptr;
  return copy_one(node);
}

extern "C" upnp_xml_node *upnp_xml_copy_tree(const upnp_xml_node *node) {
  upnp_xml_node *head = nullptr;
  upnp_xml_node **link = &head;
  for (; node != nullptr; node = node->next) {
    upnp_xml_node *c = copy_one(node);
    if (c == nullptr) {
      upnp_xml_release(head);
      return nullptr;
    }
    *link = c;
    link = &c->next;
  }
  return head;
}

extern "C" upnp_xml_node *upnp_xml_copy_to_subnode(upnp_xml_node *parent, const upnp_xml_node *tree) {
  if (parent == nullptr || tree == nullptr) return nullptr;
  upnp_xml_node *c = copy_one(tree);
  if (c != nullptr) upnp_xml_add_as_subnode(parent, c);
  return c;
}
