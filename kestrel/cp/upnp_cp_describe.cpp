// What the device table takes from a parsed device description: the device
// node of a UDN (embedded devices included), its name, the URL base and the
// kind records with their services.
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_internal.h"

namespace {

const char *value_of_child(upnp_xml_node *node, const char *name) {
  if (node == nullptr) return nullptr;
  for (upnp_xml_node *child = node->children; child != nullptr; child = child->next) {
    if (child->name != nullptr && std::strcmp(child->name, name) == 0) return child->value;
  }
  return nullptr;
}

upnp_xml_node *child_named(upnp_xml_node *node, const char *name) {
  if (node == nullptr) return nullptr;
  for (upnp_xml_node *child = node->children; child != nullptr; child = child->next) {
    if (child->name != nullptr && std::strcmp(child->name, name) == 0) return child;
  }
  return nullptr;
}

// Depth-first through every "device" element below (and including) node;
// iterative so that no description can exhaust the stack.
upnp_xml_node *find_device_by_udn(upnp_xml_node *root, const char *udn) {
  upnp_xml_node *stack[UPNP_XML_MAX_DEPTH + 2];
  int top = 0;
  stack[top++] = root;
  while (top > 0) {
    upnp_xml_node *node = stack[--top];
    if (node == nullptr) continue;
    if (node->next != nullptr && top < UPNP_XML_MAX_DEPTH + 1) stack[top++] = node->next;
    if (node->name != nullptr && std::strcmp(node->name, "device") == 0) {
      const char *value = value_of_child(node, "UDN");
      if (value != nullptr && std::strcmp(value, udn) == 0) return node;
    }
    if (node->children != nullptr && top < UPNP_XML_MAX_DEPTH + 1) stack[top++] = node->children;
  }
  return nullptr;
}

void free_service(upnp_cp_service *service) {
  upnp_free_impl(service->sid);
  service->sid = nullptr;
  upnp_xml_release(service->scpd);
  service->scpd = nullptr;
}

struct Builder {
  upnp_xml_node *device_node;
  const char *urlbase;
  const char *udn;
  const char *location;
  const char *kind_name;
  cp_fetch_xml_fn fetch;
  void *context;
};

// Loads one service; false when it counts as missing (no control URL).
bool load_service(const Builder &b, upnp_xml_node *service_node, const char *type, upnp_cp_service *out) {
  std::memset(out, 0, sizeof *out);
  out->control_url = value_of_child(service_node, "controlURL");
  if (out->control_url == nullptr || out->control_url[0] == '\0') {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadServiceInfo",
                  "loadServiceInfo: Service %s of %s/%s at %s has no control URL", type, b.kind_name, b.udn,
                  b.location);
    out->control_url = nullptr;
    return false;
  }
  out->scpd_url = value_of_child(service_node, "SCPDURL");
  if (out->scpd_url != nullptr && out->scpd_url[0] != '\0') {
    char url[1024];
    if (cp_join_url(b.urlbase, out->scpd_url, url, sizeof url) == UPNP_CP_OK && b.fetch != nullptr)
      out->scpd = b.fetch(url, b.context);
  } else {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadServiceInfo",
                  "loadServiceInfo: Service %s of %s/%s at %s has no Service Control Protocol Definition URL", type,
                  b.kind_name, b.udn, b.location);
  }
  out->event_url = value_of_child(service_node, "eventSubURL");
  if (out->event_url == nullptr || out->event_url[0] == '\0') {
    out->event_url = nullptr;
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadServiceInfo",
                  "loadServiceInfo: Service %s of %s/%s at %s has no event URL", type, b.kind_name, b.udn,
                  b.location);
  }
  return true;
}

bool has_action(upnp_xml_node *action_list, const char *name) {
  for (upnp_xml_node *action = action_list->children; action != nullptr; action = action->next) {
    const char *value = value_of_child(action, "name");
    if (value != nullptr && std::strcmp(value, name) == 0) return true;
  }
  return false;
}

void *build_renderer(const Builder &b, upnp_xml_node *service_list) {
  auto *record = static_cast<upnp_cp_renderer_record *>(upnp_calloc_impl(1, sizeof(upnp_cp_renderer_record)));
  if (record == nullptr) return nullptr;
  record->transport_state = 0xFFFFFFFFu;
  bool cm = false, rc = false, avt = false;
  for (upnp_xml_node *s = service_list->children; s != nullptr && !(cm && rc && avt); s = s->next) {
    if (s->name == nullptr || std::strcmp(s->name, "service") != 0) continue;
    const char *type = value_of_child(s, "serviceType");
    if (type == nullptr) continue;
    if (!cm && std::strstr(type, "ConnectionManager") != nullptr) {
      record->cm_control_url = value_of_child(s, "controlURL");
      cm = record->cm_control_url != nullptr;
    } else if (!rc && std::strstr(type, "RenderingControl") != nullptr) {
      rc = load_service(b, s, "RenderingControl", &record->rc);
    } else if (!avt && std::strstr(type, "AVTransport") != nullptr) {
      avt = load_service(b, s, "AVTransport", &record->avt);
    }
  }
  if (cm && rc && avt) return record;
  if (!cm) upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Renderer %s has no ConnectionManager service", b.udn);
  if (!rc) upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Renderer %s has no RenderingControl service", b.udn);
  if (!avt) upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Renderer %s has no AVTransport service", b.udn);
  cp_free_kind_record(record, UPNP_CP_KIND_RENDERER);
  return nullptr;
}

void *build_server(const Builder &b, upnp_xml_node *service_list) {
  auto *record = static_cast<upnp_cp_server_record *>(upnp_calloc_impl(1, sizeof(upnp_cp_server_record)));
  if (record == nullptr) return nullptr;
  bool cm = false, cds = false, registrar = false;
  for (upnp_xml_node *s = service_list->children; s != nullptr; s = s->next) {
    if (s->name == nullptr || std::strcmp(s->name, "service") != 0) continue;
    const char *type = value_of_child(s, "serviceType");
    if (type == nullptr) continue;
    if (!cm && std::strstr(type, "ConnectionManager") != nullptr) {
      record->cm_control_url = value_of_child(s, "controlURL");
      cm = record->cm_control_url != nullptr;
    } else if (!cds && std::strstr(type, "ContentDirectory") != nullptr) {
      cds = load_service(b, s, "ContentDirectory", &record->cds);
    } else if (!registrar && std::strstr(type, "MediaReceiverRegistrar") != nullptr) {
      record->registrar_control_url = value_of_child(s, "controlURL");
      registrar = true;
    }
  }
  if (!cds) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Server %s has no ContentDirectory service", b.udn);
    if (!cm) upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Server %s has no ConnectionManager service", b.udn);
    cp_free_kind_record(record, UPNP_CP_KIND_SERVER);
    return nullptr;
  }
  if (registrar) upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDeviceInfo", "Server %s has a MediaReceiverRegistrar", b.udn);
  upnp_xml_node *actions = record->cds.scpd != nullptr ? upnp_xml_find_tag(record->cds.scpd, "actionList") : nullptr;
  if (actions == nullptr || actions->children == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Server CDS of %s/%s at %s has no/empty action list",
                  b.kind_name, b.udn, b.location);
  } else {
    record->playlist = has_action(actions, "CreateObject") && has_action(actions, "CreateReference") &&
                       has_action(actions, "DestroyObject") && has_action(actions, "UpdateObject");
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "loadDeviceInfo", "Server %s/%s at %s has playlist capability: %s",
                  b.kind_name, b.udn, b.location, record->playlist ? "yes" : "no");
  }
  return record;
}

void *build_ruis(const Builder &b, upnp_xml_node *service_list) {
  for (upnp_xml_node *s = service_list->children; s != nullptr; s = s->next) {
    if (s->name == nullptr || std::strcmp(s->name, "service") != 0) continue;
    const char *type = value_of_child(s, "serviceType");
    if (type == nullptr || std::strstr(type, "RemoteUIServer") == nullptr) continue;
    const char *control = value_of_child(s, "controlURL");
    if (control == nullptr) continue;
    auto *record = static_cast<upnp_cp_ruis_record *>(upnp_calloc_impl(1, sizeof(upnp_cp_ruis_record)));
    if (record != nullptr) record->control_url = control;
    return record;
  }
  upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "RUIS %s has no RemoteUIServer service", b.udn);
  return nullptr;
}

}  // namespace

void cp_cut_utf8(char *text, unsigned int max_chars) {
  unsigned int chars = 0;
  size_t i = 0;
  while (text[i] != '\0') {
    if ((static_cast<unsigned char>(text[i]) & 0xC0u) != 0x80u) {
      if (chars == max_chars) {
        text[i] = '\0';
        return;
      }
      ++chars;
    }
    ++i;
  }
}

int cp_find_device_node(upnp_xml_node *root, const char *udn, int kind, upnp_cp_description_fields *fields) {
  std::memset(fields, 0, sizeof *fields);
  upnp_xml_node *first = upnp_xml_find_tag(root, "device");
  if (first == nullptr) return UPNP_CP_NOT_FOUND;
  upnp_xml_node *node = first;
  const char *value = value_of_child(first, "UDN");
  if (value == nullptr || udn == nullptr || std::strcmp(value, udn) != 0) {
    node = udn != nullptr ? find_device_by_udn(first, udn) : nullptr;
    if (node == nullptr) return UPNP_CP_INVALID_INDEX;
  }
  fields->device_node = node;
  const char *name = value_of_child(node, "friendlyName");
  fields->name_from_friendly = name != nullptr && name[0] != '\0';
  if (!fields->name_from_friendly) name = value_of_child(node, "modelName");
  if (name != nullptr && name[0] != '\0') {
    std::snprintf(fields->name, sizeof fields->name, "%s", name);
    cp_cut_utf8(fields->name, UPNP_CP_MAX_NAME);
  } else {
    std::snprintf(fields->name, sizeof fields->name, "Unknown %s", upnp_cp_kind_name(kind));
  }
  return UPNP_CP_OK;
}

char *cp_url_base(upnp_xml_node *root, const char *location) {
  const char *given = upnp_xml_find_tag_value(root, "URLBase");
  if (given != nullptr) {
    size_t length = std::strlen(given);
    if (strncasecmp(given, "http://", 7) == 0 && length > 13) {
      char *copy = upnp_strdup_impl(given);
      if (copy != nullptr && copy[length - 1] == '/') copy[length - 1] = '\0';
      return copy;
    }
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "Dropping invalid URLBase '%s'", given);
  }
  if (location == nullptr) return nullptr;
  char *copy = upnp_strdup_impl(location);
  if (copy == nullptr) return nullptr;
  char *slash = std::strrchr(copy, '/');
  if (slash != nullptr && slash - copy >= 8) *slash = '\0';
  return copy;
}

void *cp_build_kind_record(upnp_xml_node *device_node, int kind, const char *urlbase, const char *udn,
                           const char *location, cp_fetch_xml_fn fetch, void *context) {
  Builder b{device_node, urlbase, udn, location, upnp_cp_kind_name(kind), fetch, context};
  upnp_xml_node *service_list = child_named(device_node, "serviceList");
  if (service_list == nullptr || service_list->children == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "loadDeviceInfo", "loadDeviceInfo: %s %s/%s at %s has no/empty service list",
                  "Device", b.kind_name, udn, location);
    return nullptr;
  }
  switch (kind) {
    case UPNP_CP_KIND_SERVER: return build_server(b, service_list);
    case UPNP_CP_KIND_RENDERER: return build_renderer(b, service_list);
    case UPNP_CP_KIND_RUIS: return build_ruis(b, service_list);
    default:
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "loadDeviceInfo",
                    "loadDeviceInfo: Function invoked with unknown device type %u for device %s at %s",
                    static_cast<unsigned>(kind), udn, location);
      return nullptr;
  }
}

void cp_free_kind_record(void *record, uint32_t kind) {
  if (record == nullptr) return;
  if (kind == UPNP_CP_KIND_SERVER) {
    auto *server = static_cast<upnp_cp_server_record *>(record);
    free_service(&server->cds);
    upnp_free_impl(server->protocol_info);
  } else if (kind == UPNP_CP_KIND_RENDERER) {
    auto *renderer = static_cast<upnp_cp_renderer_record *>(record);
    free_service(&renderer->avt);
    free_service(&renderer->rc);
    upnp_free_impl(renderer->protocol_info);
  }
  upnp_free_impl(record);
}

unsigned int cp_kind_record_services(const void *record, uint32_t kind) {
  if (record == nullptr) return 0;
  unsigned int bits = 0;
  if (kind == UPNP_CP_KIND_SERVER) {
    auto *server = static_cast<const upnp_cp_server_record *>(record);
    if (server->cm_control_url != nullptr) bits |= UPNP_CP_SERVICE_CM;
    if (server->cds.control_url != nullptr) bits |= UPNP_CP_SERVICE_CDS;
  } else if (kind == UPNP_CP_KIND_RENDERER) {
    auto *renderer = static_cast<const upnp_cp_renderer_record *>(record);
    if (renderer->cm_control_url != nullptr) bits |= UPNP_CP_SERVICE_CM;
    if (renderer->rc.control_url != nullptr) bits |= UPNP_CP_SERVICE_RC;
    if (renderer->avt.control_url != nullptr) bits |= UPNP_CP_SERVICE_AVT;
  } else if (kind == UPNP_CP_KIND_RUIS) {
    bits |= UPNP_CP_SERVICE_RUIS;
  }
  return bits;
}

void cp_apply_renderer_quirks(upnp_cp_device *device) {
  if (device->kind != UPNP_CP_KIND_RENDERER || device->kind_record == nullptr) return;
  auto *renderer = static_cast<upnp_cp_renderer_record *>(device->kind_record);
  device->broken_actions = 0;
  const char *model = value_of_child(device->device_node, "modelName");
  if (model != nullptr && std::strncmp(model, "WD ", 3) == 0) device->polled = 1;
  const char *upc = value_of_child(device->device_node, "UPC");
  if (model != nullptr && std::strcmp(model, "Ubicom Digital Photo Frame") == 0 && upc != nullptr &&
      std::strcmp(upc, "00000-00001") == 0) {
    device->broken_actions = 3;
    renderer->max_width = 800;
    renderer->max_height = 480;
  }
  const char *description = value_of_child(device->device_node, "modelDescription");
  if (description != nullptr && std::strcmp(description, "TOSHIBA LCDTV") == 0) {
    renderer->avt.quirks |= 1u;
    renderer->rc.quirks |= 1u;
  }
}
