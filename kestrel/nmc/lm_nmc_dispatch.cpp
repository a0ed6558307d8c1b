// The controller's event dispatcher: the event sink registered at start.
// Device events change the lists; server and renderer updates and queue
// events become notifications for the notifier threads.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_xml.h"
#include "nmc/lm_nmc_device_events.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_keywords.h"
#include "nmc/lm_nmc_notify.h"

namespace {

bool starts_with_digit(const char *text) { return text != nullptr && std::isdigit(static_cast<unsigned char>(text[0])); }

// A non-negative index from a text that starts with a digit; -1 otherwise.
int parse_index(const char *text) {
  if (!starts_with_digit(text)) return -1;
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  return value >= 0 && value <= 0x7FFFFFFF ? static_cast<int>(value) : -1;
}

// The inner text of the first "<InstanceID ...>...</InstanceID>" of an
// event, or empty.
std::string instance_content(const std::string &event) {
  size_t open = event.find("<InstanceID");
  if (open == std::string::npos) return std::string();
  size_t start = event.find('>', open);
  if (start == std::string::npos || event[start - 1] == '/') return std::string();
  size_t end = event.find("</InstanceID>", start);
  if (end == std::string::npos) return std::string();
  return event.substr(start + 1, end - start - 1);
}

void renderer_updated(upnp_xml_node *root) {
  int index = parse_index(upnp_xml_find_tag_value(root->children, "Index"));
  if (index < 0) return;
  upnp_xml_node *last_change = upnp_xml_find_tag(root->children, "LastChange");
  const char *event = last_change != nullptr && last_change->value != nullptr ? last_change->value : "";
  int state = -1;
  upnp_xml_node *tree = upnp_xml_parse(event);
  if (tree != nullptr) {
    upnp_xml_node *node = upnp_xml_find_tag(tree, "TransportState");
    if (node != nullptr) state = nmc_transport_state_code(upnp_xml_find_attribute_value(node, "val"));
    upnp_xml_release(tree);
  }
  nmc_notification n;
  n.category = NMC_CATEGORY_UPDATE;
  n.index = index;
  n.code = state >= 0 ? static_cast<uint32_t>(state) : 0;
  n.no_state = state < 0;
  n.mode = nmc_update_mode();
  n.list_mode = nmc_list_mode();
  n.has_text = true;
  if (n.mode == NMC_MODE_XML) {
    n.text = "<RendererUpdated>" + instance_content(event) + "</RendererUpdated>";
    nmc_notify_push(NMC_SIDE_RENDERER, n);
    return;
  }
  for (const std::string &keyword : nmc_update_keywords(event)) {
    n.text = keyword;
    nmc_notify_push(NMC_SIDE_RENDERER, n);
  }
}

struct QueueEventName {
  const char *name;
  uint32_t code;
};
const QueueEventName k_queue_events[] = {{"Playing", 1},         {"Stopped", 0},       {"cleared", 1001},
                                         {"shuffled", 1002},     {"item_removed", 1003}, {"item_added", 1004},
                                         {"item_moved", 1005}};

void queue_event(upnp_xml_node *root) {
  nmc_device_view renderer;
  if (!nmc_devices_find_udn(NMC_SIDE_RENDERER, upnp_xml_find_tag_value(root->children, "QueueID"), &renderer)) return;
  const char *type = upnp_xml_find_tag_value(root->children, "EventType");
  const QueueEventName *found = nullptr;
  for (const QueueEventName &event : k_queue_events) {
    if (type != nullptr && std::strcmp(type, event.name) == 0) found = &event;
  }
  if (found == nullptr) return;
  nmc_notification n;
  n.category = NMC_CATEGORY_QUEUE;
  n.index = renderer.index;
  n.code = found->code;
  n.values[0] = upnp_xml_find_tag_value_uint(root->children, "CurrentIndex", 0);
  n.values[1] = upnp_xml_find_tag_value_uint(root->children, "Pending", 0);
  nmc_notify_push(NMC_SIDE_RENDERER, n);
}

void server_updated(upnp_xml_node *root) {
  int index = parse_index(upnp_xml_find_tag_value(root->children, "Index"));
  const char *id = upnp_xml_find_tag_value(root->children, "SystemUpdateID");
  if (index < 0 || !starts_with_digit(id)) return;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_event_dispatcher", "NMC: Server %d updated to ID %s", index, id);
  nmc_notification n;
  n.code = NMC_SERVER_CONTENT_UPDATED;
  n.index = index;
  n.update_id = std::strtoull(id, nullptr, 10);
  nmc_notify_push(NMC_SIDE_SERVER, n);
}

// The "Server" or "Renderer" child of an added or removed event, with the
// side it names; none when it is neither.
upnp_xml_node *device_child(upnp_xml_node *root, int *side) {
  upnp_xml_node *child = root->children;
  if (child == nullptr || child->name == nullptr) return nullptr;
  if (std::strcmp(child->name, "Server") == 0) {
    *side = NMC_SIDE_SERVER;
  } else if (std::strcmp(child->name, "Renderer") == 0) {
    *side = NMC_SIDE_RENDERER;
  } else {
    return nullptr;
  }
  return child;
}

}  // namespace

void nmc_event_dispatcher(int kind, const char *text) {
  if (kind == 0) {
    nmc_release_sides();
    return;
  }
  if (text == nullptr) return;
  upnp_xml_node *root = upnp_xml_parse(text);
  if (root == nullptr || root->name == nullptr) {
    upnp_xml_release(root);
    return;
  }
  const char *name = root->name;
  int side = NMC_SIDE_SERVER;
  if (std::strcmp(name, "RendererUpdated") == 0) {
    renderer_updated(root);
  } else if (std::strcmp(name, "QueueEvent") == 0) {
    queue_event(root);
  } else if (std::strcmp(name, "ServerUpdated") == 0) {
    server_updated(root);
  } else if (std::strstr(name, "Added") != nullptr) {
    upnp_xml_node *child = device_child(root, &side);
    const char *index_text = child != nullptr ? upnp_xml_find_attribute_value(child, "index") : nullptr;
    const char *udn = child != nullptr ? upnp_xml_find_tag_value(child->children, "UDN") : nullptr;
    const char *device_name = child != nullptr ? upnp_xml_find_tag_value(child->children, "Name") : nullptr;
    int index = parse_index(index_text);
    if (index >= 0 && udn != nullptr && udn[0] != '\0' && device_name != nullptr && device_name[0] != '\0') {
      nmc_device_added(side, index, udn, device_name);
    }
  } else if (std::strstr(name, "Removed") != nullptr) {
    upnp_xml_node *child = device_child(root, &side);
    int index = parse_index(child != nullptr ? upnp_xml_find_attribute_value(child, "index") : nullptr);
    if (index >= 0) nmc_device_removed(side, index);
  }
  upnp_xml_release(root);
}
