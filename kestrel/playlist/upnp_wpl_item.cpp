// Playlist items outside the store: a source address and an ordered list of
// (name, value) attributes, all accounted copies.
#include <cstring>

#include "base/upnp_mem.h"
#include "playlist/upnp_wpl.h"

namespace {

void free_attributes(upnp_wpl_attribute *a) {
  while (a) {
    upnp_wpl_attribute *next = a->next;
    upnp_free_impl(a->name);
    upnp_free_impl(a->value);
    upnp_free_impl(a);
    a = next;
  }
}

const upnp_wpl_attribute *find(const upnp_wpl_item *item, const char *name) {
  if (!item || !name) return nullptr;
  for (const upnp_wpl_attribute *a = item->attributes; a; a = a->next) {
    if (std::strcmp(a->name, name) == 0) return a;
  }
  return nullptr;
}

}  // namespace

extern "C" upnp_wpl_item *upnp_wpl_create_item(const char *src) {
  auto *item = static_cast<upnp_wpl_item *>(upnp_calloc_impl(1, sizeof(upnp_wpl_item)));
  if (!item) return nullptr;
  item->src = upnp_strdup_impl(src ? src : "");
  if (!item->src) {
    upnp_free_impl(item);
    return nullptr;
  }
  return item;
}

extern "C" int upnp_wpl_add_item_attribute(upnp_wpl_item *item, const char *name, const char *value) {
  if (!item || !name || !*name) return UPNP_WPL_FAILED;
  auto *a = static_cast<upnp_wpl_attribute *>(upnp_calloc_impl(1, sizeof(upnp_wpl_attribute)));
  if (!a) return UPNP_WPL_FAILED;
  a->name = upnp_strdup_impl(name);
  a->value = upnp_strdup_impl(value ? value : "");
  if (!a->name || !a->value) {
    free_attributes(a);
    return UPNP_WPL_FAILED;
  }
  upnp_wpl_attribute **tail = &item->attributes;
  while (*tail) tail = &(*tail)->next;
  *tail = a;
  return UPNP_WPL_OK;
}

extern "C" char *upnp_wpl_get_item_attribute(const upnp_wpl_item *item, const char *name) {
  const upnp_wpl_attribute *a = find(item, name);
  return a ? upnp_strdup_impl(a->value) : nullptr;
}

extern "C" int upnp_wpl_set_item_title(upnp_wpl_item *item, const char *title) {
  if (!item || !title) return UPNP_WPL_FAILED;
  auto *a = const_cast<upnp_wpl_attribute *>(find(item, "title"));
  if (!a) return upnp_wpl_add_item_attribute(item, "title", title);
  char *copy = upnp_strdup_impl(title);
  if (!copy) return UPNP_WPL_FAILED;
  upnp_free_impl(a->value);
  a->value = copy;
  return UPNP_WPL_OK;
}

extern "C" char *upnp_wpl_get_item_title(const upnp_wpl_item *item) {
  return upnp_wpl_get_item_attribute(item, "title");
}

extern "C" void upnp_wpl_free_item(upnp_wpl_item *item) {
  if (!item) return;
  free_attributes(item->attributes);
  upnp_free_impl(item->src);
  upnp_free_impl(item);
}

extern "C" upnp_wpl_item *upnp_wpl_copy_item(const upnp_wpl_item *item) {
  if (!item) return nullptr;
  upnp_wpl_item *copy = upnp_wpl_create_item(item->src);
  if (!copy) return nullptr;
  for (const upnp_wpl_attribute *a = item->attributes; a; a = a->next) {
    if (upnp_wpl_add_item_attribute(copy, a->name, a->value) != UPNP_WPL_OK) {
      upnp_wpl_free_item(copy);
      return nullptr;
    }
  }
  return copy;
}
