// The commands of the XML interface that concern device lists, device
// information, icons, subscriptions, network scans, the version and the
// up-time. Server, renderer and queue commands join the table from their
// own files.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_ini_file.h"
#include "base/upnp_string.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmrcp_api.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_text.h"

namespace {

// The device index a command addresses: "ServerIndex" or "RendererIndex"
// by side, or "Index"; -1 when missing or not a number.
int command_index(upnp_xml_node *command, int kind) {
  const char *text = upnp_xml_find_tag_value(command->children, kind == UPNP_CP_KIND_SERVER ? "ServerIndex"
                                                                                             : "RendererIndex");
  if (text == nullptr) text = upnp_xml_find_tag_value(command->children, "Index");
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return -1;
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  return *end == '\0' && value <= 0x7FFFFFFF ? static_cast<int>(value) : -1;
}

void device_list(int side, const char *word, nmc_api_answer *answer) {
  for (const nmc_device_view &device : nmc_devices_list(side)) {
    answer->body += std::string("<") + word + " index=\"" + std::to_string(device.index) + "\"><UDN>" +
                    nmc_xml_escape(device.udn.c_str()) + "</UDN><Name>" + nmc_xml_escape(device.name.c_str()) +
                    "</Name></" + word + ">";
  }
}
void get_server_list(upnp_xml_node *, nmc_api_answer *answer) { device_list(NMC_SIDE_SERVER, "Server", answer); }
void get_renderer_list(upnp_xml_node *, nmc_api_answer *answer) {
  device_list(NMC_SIDE_RENDERER, "Renderer", answer);
}

// Each requested "Element" of the device's description that has a value,
// as "<element>value</element>".
void device_info(upnp_xml_node *command, int kind, nmc_api_answer *answer) {
  int index = command_index(command, kind);
  if (index < 0) {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  answer->index = index;
  if (!upnp_cp_isValidIndex(index, kind)) {
    answer->code = LM_NMC_INVALID_INDEX;
    return;
  }
  for (upnp_xml_node *child = command->children; child != nullptr; child = child->next) {
    if (child->name == nullptr || std::strcmp(child->name, "Element") != 0) continue;
    if (!nmc_is_element_name(child->value)) {
      answer->code = LM_NMC_INVALID_PARAMETER;
      answer->body.clear();
      return;
    }
    char value[4096];
    if (upnp_control_get_device_attribute(index, child->value, value, sizeof value, kind) != 0 || value[0] == '\0') {
      continue;
    }
    answer->body += std::string("<") + child->value + ">" + nmc_xml_escape(value) + "</" + child->value + ">";
  }
}
void get_server_info(upnp_xml_node *command, nmc_api_answer *answer) {
  device_info(command, UPNP_CP_KIND_SERVER, answer);
}
void get_renderer_info(upnp_xml_node *command, nmc_api_answer *answer) {
  device_info(command, UPNP_CP_KIND_RENDERER, answer);
}

void device_icons(upnp_xml_node *command, int kind, nmc_api_answer *answer) {
  int index = command_index(command, kind);
  if (index < 0) {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  answer->index = index;
  upnp_xml_node *icons = nullptr;
  answer->code = static_cast<uint32_t>(upnp_control_get_device_iconlist(index, &icons, kind));
  if (answer->code == 0 && icons != nullptr) {
    upnp_string *text = upnp_xml_tree_to_string_valid(icons, 0, 0);
    if (text != nullptr && text->buffer != nullptr) answer->body.assign(text->buffer, text->length);
    upnp_string_free(text);
  }
  upnp_xml_release(icons);
}
void get_server_icons(upnp_xml_node *command, nmc_api_answer *answer) {
  device_icons(command, UPNP_CP_KIND_SERVER, answer);
}
void get_renderer_icons(upnp_xml_node *command, nmc_api_answer *answer) {
  device_icons(command, UPNP_CP_KIND_RENDERER, answer);
}

void subscription(upnp_xml_node *command, int kind, int on, nmc_api_answer *answer) {
  int index = command_index(command, kind);
  if (index < 0) {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  answer->index = index;
  answer->code = static_cast<uint32_t>(upnp_control_enable_auto_subscription(index, on, kind));
}
void subscribe_server(upnp_xml_node *c, nmc_api_answer *a) { subscription(c, UPNP_CP_KIND_SERVER, 1, a); }
void unsubscribe_server(upnp_xml_node *c, nmc_api_answer *a) { subscription(c, UPNP_CP_KIND_SERVER, 0, a); }
void subscribe_renderer(upnp_xml_node *c, nmc_api_answer *a) { subscription(c, UPNP_CP_KIND_RENDERER, 1, a); }
void unsubscribe_renderer(upnp_xml_node *c, nmc_api_answer *a) { subscription(c, UPNP_CP_KIND_RENDERER, 0, a); }

void network_scan(upnp_xml_node *command, nmc_api_answer *answer) {
  const char *reload = upnp_xml_find_attribute_value(command, "reload");
  answer->code = nmc_network_scan(reload != nullptr && std::strcmp(reload, "true") == 0);
}

void get_version(upnp_xml_node *, nmc_api_answer *answer) {
  const char *version = upnp_ini_file_getString(INI_VERSION);
  if (version == nullptr || version[0] == '\0') {
    answer->code = LM_NMC_NO_VALUE;
    return;
  }
  answer->body = "<Version>" + nmc_xml_escape(version) + "</Version>";
}

// This process never serves as a stationary instance.
void get_up_time(upnp_xml_node *, nmc_api_answer *answer) { answer->body = "<StationaryUpTime>0</StationaryUpTime>"; }

struct Command {
  const char *name;
  nmc_api_handler handler;
};
const Command k_commands[] = {
    {"GetServerList", get_server_list},       {"GetRendererList", get_renderer_list},
    {"GetServerInfo", get_server_info},       {"GetRendererInfo", get_renderer_info},
    {"GetServerIcons", get_server_icons},     {"GetRendererIcons", get_renderer_icons},
    {"SubscribeServer", subscribe_server},    {"UnsubscribeServer", unsubscribe_server},
    {"SubscribeRenderer", subscribe_renderer}, {"UnsubscribeRenderer", unsubscribe_renderer},
    {"NetworkScan", network_scan},            {"GetVersion", get_version},
    {"GetUpTime", get_up_time},
};

}  // namespace

nmc_api_handler nmc_api_find(const char *name) {
  if (name == nullptr) return nullptr;
  for (const Command &command : k_commands) {
    if (std::strcmp(command.name, name) == 0) return command.handler;
  }
  if (nmc_api_handler renderer = nmc_api_find_dmr_command(name)) return renderer;
  if (nmc_api_handler dms = nmc_api_find_dms_command(name)) return dms;
  if (nmc_api_handler queue = nmc_api_find_queue_command(name)) return queue;
  return nmc_api_find_session_command(name);
}
