// Queries and iteration over the device tables.
#include <cstdio>
#include <cstring>

#include "base/upnp_local_addr.h"
#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap.h"

namespace {

int copy_text(const char *text, char *buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return UPNP_CP_INVALID_PARAMETER;
  buffer[0] = '\0';
  if (text == nullptr) return UPNP_CP_OK;
  size_t length = std::strlen(text);
  if (length >= size) return UPNP_CP_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text, length + 1);
  return UPNP_CP_OK;
}

// Next (step 1) or previous (step -1) usable index after start, or -1.
int step_index(int start, int kind, int step) {
  if (!upnp_cp_lock_section()) return -1;
  upnp_cp_table *table = cp_table(kind);
  int found = -1;
  if (table != nullptr) {
    int i = start + step;
    if (step < 0 && (start < 0 || start > table->size)) i = table->size - 1;
    for (; i >= 0 && i < table->size; i += step) {
      if (cp_is_usable(&table->slots[i])) {
        found = i;
        break;
      }
    }
  }
  upnp_cp_unlock_section();
  return found;
}

// Runs body(device) under the lock after the common lookup.
template <typename Body>
int with_device(int index, int kind, int need_kind_record, int must_be_usable, Body body) {
  if (!upnp_cp_lock_section()) return UPNP_CP_GOING_DOWN;
  upnp_cp_device *d = nullptr;
  int result = getDeviceInfo(index, kind, need_kind_record, must_be_usable, &d);
  if (result == UPNP_CP_OK) result = body(d);
  upnp_cp_unlock_section();
  return result;
}

bool my_server(const upnp_cp_device *d) {
  char host[256];
  unsigned int port = 0;
  return d->urlbase != nullptr && cp_split_http_url(d->urlbase, host, sizeof host, &port) &&
         upnp_is_my_server(host, port);
}

}  // namespace

int getDeviceInfo(int index, int kind, int need_kind_record, int must_be_usable, upnp_cp_device **record_out) {
  *record_out = nullptr;
  if (kind == UPNP_CP_KIND_RENDERER && index == UPNP_CP_LOCAL_RENDERER_INDEX) index = getMyDevice(kind, 0);
  if (!upnp_cp_isValidDeviceType(kind) || (kind == UPNP_CP_KIND_RUIS && need_kind_record))
    return UPNP_CP_INVALID_PARAMETER;
  upnp_cp_device *d = cp_slot(index, kind);
  if (d == nullptr) return UPNP_CP_INVALID_INDEX;
  if (must_be_usable && !cp_is_usable(d)) return UPNP_CP_DEVICE_GONE;
  if (need_kind_record && d->kind_record == nullptr) return UPNP_CP_DEVICE_GONE;
  *record_out = d;
  return UPNP_CP_OK;
}

extern "C" int upnp_control_get_next_server_index(int i) { return step_index(i, UPNP_CP_KIND_SERVER, 1); }
extern "C" int upnp_control_get_previous_server_index(int i) { return step_index(i, UPNP_CP_KIND_SERVER, -1); }
extern "C" int upnp_control_get_next_renderer_index(int i) { return step_index(i, UPNP_CP_KIND_RENDERER, 1); }
extern "C" int upnp_control_get_previous_renderer_index(int i) { return step_index(i, UPNP_CP_KIND_RENDERER, -1); }
extern "C" int upnp_control_get_next_ruis_index(int i) { return step_index(i, UPNP_CP_KIND_RUIS, 1); }

extern "C" int upnp_control_get_device_index(const char *udn, int kind) {
  if (udn == nullptr || !upnp_cp_lock_section()) return -1;
  upnp_cp_table *table = cp_table(kind);
  int found = -1;
  for (int i = 0; table != nullptr && i < table->size; ++i) {
    const upnp_cp_device &d = table->slots[i];
    if (d.state != UPNP_CP_STATE_FREE && d.udn != nullptr && std::strcmp(d.udn, udn) == 0) {
      found = i;
      break;
    }
  }
  upnp_cp_unlock_section();
  return found;
}

extern "C" int upnp_control_get_device_info(int index, char *name, unsigned int name_size, char *udn,
                                            unsigned int udn_size, int kind) {
  if (name != nullptr && name_size > 0) name[0] = '\0';
  if (udn != nullptr && udn_size > 0) udn[0] = '\0';
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) {
    int result = name != nullptr ? copy_text(d->name, name, name_size) : UPNP_CP_OK;
    if (result == UPNP_CP_OK && udn != nullptr) result = copy_text(d->udn, udn, udn_size);
    return result;
  });
}

extern "C" int upnp_control_get_device_name(int index, char *buffer, unsigned int size, int kind) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) { return copy_text(d->name, buffer, size); });
}

extern "C" int upnp_control_get_urlbase(int index, char *buffer, unsigned int size, int kind) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) { return copy_text(d->urlbase, buffer, size); });
}

extern "C" int upnp_control_get_location(int index, char *buffer, unsigned int size, int kind) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return with_device(index, kind, 0, 0, [&](upnp_cp_device *d) { return copy_text(d->location, buffer, size); });
}

extern "C" int upnp_control_get_device_state(int index, int kind) {
  int state = -1;
  with_device(index, kind, 0, 0, [&](upnp_cp_device *d) {
    state = static_cast<int>(d->state);
    return UPNP_CP_OK;
  });
  return state;
}

extern "C" unsigned int upnp_control_get_device_services(int index, int kind) {
  unsigned int bits = 0;
  with_device(index, kind, 0, 0, [&](upnp_cp_device *d) {
    bits = cp_kind_record_services(d->kind_record, d->kind);
    return UPNP_CP_OK;
  });
  return bits;
}

extern "C" int upnp_cp_make_absolute_url(int index, const char *url, char *buffer, unsigned int size, int kind) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return with_device(index, kind, 0, 0, [&](upnp_cp_device *d) { return cp_join_url(d->urlbase, url, buffer, size); });
}

extern "C" int upnp_control_get_device_iconlist(int index, upnp_xml_node **tree_out, int kind) {
  if (tree_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *tree_out = nullptr;
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) {
    upnp_xml_node *list = nullptr;
    for (upnp_xml_node *c = d->device_node ? d->device_node->children : nullptr; c != nullptr; c = c->next) {
      if (c->name != nullptr && std::strcmp(c->name, "iconList") == 0) list = c;
    }
    if (list == nullptr) return UPNP_CP_NOT_FOUND;
    upnp_xml_node *copy = upnp_xml_copy_node(list);
    if (copy == nullptr) return UPNP_CP_OUT_OF_MEMORY;
    for (upnp_xml_node *u = upnp_xml_find_tag(copy->children, "url"); u != nullptr; u = upnp_xml_find_next_tag(u, "url")) {
      if (u->value == nullptr) continue;
      char joined[1024];
      if (cp_join_url(d->urlbase, u->value, joined, sizeof joined) == UPNP_CP_OK) upnp_xml_set_value(u, joined);
    }
    *tree_out = copy;
    return UPNP_CP_OK;
  });
}

extern "C" int upnp_control_get_device_attributes(int index, const char *tag, upnp_xml_node **tree_out, int kind) {
  if (tree_out == nullptr || tag == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *tree_out = nullptr;
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) {
    upnp_xml_node *head = nullptr, *tail = nullptr;
    for (upnp_xml_node *c = d->device_node ? d->device_node->children : nullptr; c != nullptr; c = c->next) {
      if (c->name == nullptr || std::strcmp(c->name, tag) != 0) continue;
      upnp_xml_node *copy = upnp_xml_copy_node(c);
      if (copy == nullptr) {
        upnp_xml_release(head);
        return UPNP_CP_OUT_OF_MEMORY;
      }
      if (tail != nullptr) tail->next = copy; else head = copy;
      tail = copy;
    }
    if (head == nullptr) return UPNP_CP_NOT_FOUND;
    *tree_out = head;
    return UPNP_CP_OK;
  });
}

extern "C" int upnp_control_get_device_attribute(int index, const char *tag, char *buffer, unsigned int size,
                                                 int kind) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (tag == nullptr) return UPNP_CP_INVALID_PARAMETER;
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) {
    for (upnp_xml_node *c = d->device_node ? d->device_node->children : nullptr; c != nullptr; c = c->next) {
      if (c->name == nullptr || std::strcmp(c->name, tag) != 0) continue;
      if (c->children == nullptr) return copy_text(c->value ? c->value : "", buffer, size);
      upnp_string *text = upnp_xml_tree_to_string(c->children, 0, 0);
      if (text == nullptr) return UPNP_CP_OUT_OF_MEMORY;
      int result = copy_text(upnp_string_get_cstring(text), buffer, size);
      upnp_string_free(text);
      return result;
    }
    return UPNP_CP_NOT_FOUND;
  });
}

extern "C" int upnp_control_get_upnp_version(int index, int kind, int *major_out, int *minor_out) {
  if (major_out != nullptr) *major_out = 0;
  if (minor_out != nullptr) *minor_out = 0;
  return with_device(index, kind, 0, 1, [&](upnp_cp_device *d) {
    upnp_xml_node *version = upnp_xml_find_tag(d->description, "specVersion");
    if (version == nullptr) return UPNP_CP_NOT_FOUND;
    int major = upnp_xml_find_tag_value_int(version->children, "major");
    if (major == 0) return UPNP_CP_NOT_FOUND;
    if (major_out != nullptr) *major_out = major;
    if (minor_out != nullptr) *minor_out = upnp_xml_find_tag_value_int(version->children, "minor");
    return UPNP_CP_OK;
  });
}

extern "C" int upnp_control_get_regurl(int index, char *buffer, unsigned int size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return with_device(index, UPNP_CP_KIND_SERVER, 1, 1, [&](upnp_cp_device *d) {
    auto *server = static_cast<upnp_cp_server_record *>(d->kind_record);
    if (server->registrar_control_url == nullptr) return UPNP_CP_NOT_FOUND;
    return copy_text(server->registrar_control_url, buffer, size);
  });
}

extern "C" int upnp_cp_isValidIndex(int index, int kind) {
  return with_device(index, kind, 0, 1, [](upnp_cp_device *) { return UPNP_CP_OK; }) == UPNP_CP_OK ? 1 : 0;
}

extern "C" int upnp_cp_is_local_device(int index, int kind) {
  int local = 0;
  with_device(index, kind, 0, 0, [&](upnp_cp_device *d) {
    local = d->local;
    return UPNP_CP_OK;
  });
  return local;
}

extern "C" int has_playlist_capability(int index) {
  int answer = -1;
  with_device(index, UPNP_CP_KIND_SERVER, 1, 1, [&](upnp_cp_device *d) {
    answer = static_cast<upnp_cp_server_record *>(d->kind_record)->playlist ? 1 : 0;
    return UPNP_CP_OK;
  });
  return answer;
}

extern "C" int upnp_cp_get_renderer_resolution(int index, unsigned int *width_out, unsigned int *height_out) {
  if (width_out != nullptr) *width_out = 0;
  if (height_out != nullptr) *height_out = 0;
  return with_device(index, UPNP_CP_KIND_RENDERER, 1, 1, [&](upnp_cp_device *d) {
    auto *renderer = static_cast<upnp_cp_renderer_record *>(d->kind_record);
    if (width_out != nullptr) *width_out = renderer->max_width;
    if (height_out != nullptr) *height_out = renderer->max_height;
    return UPNP_CP_OK;
  });
}

extern "C" unsigned int upnp_cp_get_broken_actions(int index, int kind) {
  unsigned int mask = 0;
  with_device(index, kind, 0, 0, [&](upnp_cp_device *d) {
    mask = d->broken_actions;
    return UPNP_CP_OK;
  });
  return mask;
}

extern "C" int upnp_cp_is_polled(int index, int kind) {
  int polled = 0;
  with_device(index, kind, 0, 0, [&](upnp_cp_device *d) {
    polled = d->polled;
    return UPNP_CP_OK;
  });
  return polled;
}

extern "C" int isMyDevice(int index, int kind, int take_lock, int *result_out) {
  if (result_out != nullptr) *result_out = 0;
  if (take_lock && !upnp_cp_lock_section()) return UPNP_CP_GOING_DOWN;
  upnp_cp_device *d = cp_slot(index, kind);
  int result = d != nullptr ? UPNP_CP_OK : UPNP_CP_INVALID_INDEX;
  if (d != nullptr && result_out != nullptr) *result_out = my_server(d) ? 1 : 0;
  if (take_lock) upnp_cp_unlock_section();
  return result;
}

extern "C" int getMyDevice(int kind, int take_lock) {
  if (take_lock && !upnp_cp_lock_section()) return -1;
  upnp_cp_table *table = cp_table(kind);
  int found = -1;
  for (int i = 0; table != nullptr && i < table->size && found < 0; ++i) {
    if (cp_is_usable(&table->slots[i]) && my_server(&table->slots[i])) found = i;
  }
  if (take_lock) upnp_cp_unlock_section();
  return found;
}

namespace {

// Where a device of kind keeps its cached protocol information.
char **protocol_info_slot(upnp_cp_device *d, int kind) {
  return kind == UPNP_CP_KIND_SERVER ? &static_cast<upnp_cp_server_record *>(d->kind_record)->protocol_info
                                     : &static_cast<upnp_cp_renderer_record *>(d->kind_record)->protocol_info;
}

// What identifies the entry a device-side answer belongs to: the slot, the
// UDN, the location and the kind record the answer is cached in.
struct ProtocolInfoOwner {
  int index = -1;
  char *udn = nullptr;
  char *location = nullptr;
  const void *kind_record = nullptr;
  ~ProtocolInfoOwner() {
    upnp_free_impl(udn);
    upnp_free_impl(location);
  }
  bool same(const upnp_cp_device *d) const {
    return d->kind_record == kind_record && d->udn != nullptr && d->location != nullptr &&
           std::strcmp(d->udn, udn) == 0 && std::strcmp(d->location, location) == 0;
  }
};

}  // namespace

extern "C" int upnp_get_ProtocolInfo(int index, int kind, char **text_out) {
  if (text_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *text_out = nullptr;
  if (!upnp_cp_isValidMediaDeviceType(kind)) return UPNP_CP_INVALID_PARAMETER;
  ProtocolInfoOwner owner;
  int result = with_device(index, kind, 1, 1, [&](upnp_cp_device *d) {
    const char *cached = *protocol_info_slot(d, kind);
    if (cached != nullptr) {
      *text_out = upnp_strdup_impl(cached);
      return *text_out != nullptr ? UPNP_CP_OK : UPNP_CP_OUT_OF_MEMORY;
    }
    owner.index = static_cast<int>(d - cp_table(kind)->slots);  // the local renderer's index resolved
    owner.udn = upnp_strdup_impl(d->udn);
    owner.location = upnp_strdup_impl(d->location);
    owner.kind_record = d->kind_record;
    return owner.udn != nullptr && owner.location != nullptr ? UPNP_CP_OK : UPNP_CP_OUT_OF_MEMORY;
  });
  if (result != UPNP_CP_OK || *text_out != nullptr) return result;

  // Not cached: ask the device without holding the lock, which the request
  // may keep for seconds.
  char *answer = nullptr;
  result = upnp_get_NonCachedProtocolInfo(owner.index, kind, &answer);
  if (result != UPNP_CP_OK || answer == nullptr) {
    upnp_free_impl(answer);
    return result != UPNP_CP_OK ? result : UPNP_CP_NOT_FOUND;
  }
  // Cached only in the entry that was asked: a device removed, replaced or
  // described anew meanwhile keeps its own (empty) cache. A slot filled by
  // another caller meanwhile keeps what it has.
  with_device(owner.index, kind, 1, 1, [&](upnp_cp_device *d) {
    char **slot = protocol_info_slot(d, kind);
    if (*slot == nullptr && owner.same(d)) *slot = upnp_strdup_impl(answer);
    return UPNP_CP_OK;
  });
  *text_out = answer;
  return UPNP_CP_OK;
}

extern "C" int upnp_cp_device_supports_types(int index, int kind, const char *types, int all) {
  char *info = nullptr;
  upnp_get_ProtocolInfo(index, kind, &info);
  int answer = upnp_cp_supports_types(info, types, all);
  upnp_free_impl(info);
  return answer;
}
