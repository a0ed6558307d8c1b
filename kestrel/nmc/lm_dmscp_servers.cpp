// The server entries' additions: each server's information (its description
// values as "<server>" XML), its known kind and its last update identifier,
// built once per server and kept by UDN until the server goes away.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_text.h"

namespace {

struct Field {
  const char *element;  // name in the device description
  const char *output;   // name in the server information
};
const Field k_fields[] = {
    {"friendlyName", "friendlyName"},
    {"manufacturer", "manufacturer"},
    {"modelName", "modelName"},
    {"modelNumber", "modelNumber"},
    {"modelDescription", "modelDescription"},
    {"dlna:X_DLNADOC", "dlnaVersion"},
    {"specVersion", "upnpVersion"},
    {"zel:X_PLAYLISTCAP", "playlistSupport"},
    {"zel:X_LOCALDEVICE", "isLocalDevice"},
    {"zel:X_INTERNALDEVICE", "isInternalDevice"},
    {"dlna:X_DLNAVIRT", "aggregating"},
    {"baseURL", "baseURL"},
    {"isProxyServer", "isProxyServer"},
    {"move:X_move_support", "dtcpMoveSupport"},
    {"knownServer", "knownServer"},
    {"wellKnownBookmark", "wellKnownBookmark"},
    {"dtcpPushSupport", "dtcpPushSupport"},
    {"dtcpCopySupport", "dtcpCopySupport"},
    {"dtcpMoveSupport", "dtcpMoveSupport"},
};

const char *const k_kind_names[] = {"unknown", "Lumet", "Lumet 4.4", "Microsoft WMC", "D-Link", "Sony",
                                    "Research In Motion"};

struct Entry {
  // Held while the information is built (once), so that two contexts do not
  // ask the same server twice.
  std::mutex build;
  bool built = false;
  int index = -1;
  int kind = 0;
  std::string info;
  uint64_t update_id = 0;
};

// Guards the map; entries are shared so that a build runs without it.
std::mutex g_lock;
std::map<std::string, std::shared_ptr<Entry>> g_servers;

std::shared_ptr<Entry> entry_for(const std::string &udn) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::shared_ptr<Entry> &entry = g_servers[udn];
  if (!entry) entry = std::make_shared<Entry>();
  return entry;
}

// The response header of a GET of url, "" when none came.
std::string response_header(const std::string &url) {
  int s = HTTP_open(url.c_str());
  if (s < 0) return "";
  setSockOptReceiveTimeout(s, 5000);
  std::string header;
  if (HTTP_get_request(s, url.c_str(), nullptr) == 0) {
    char buffer[HTTP_HEADER_BUFFER_SIZE];
    if (HTTP_get_header(s, buffer, sizeof buffer) > 0) header = buffer;
  }
  upnp_socket_close(s);
  return header;
}

// The description values of the server through the "GetServerInfo" command.
bool description_values(int index, std::string *values) {
  std::string command = "<GetServerInfo><Index>" + std::to_string(index) + "</Index>";
  for (const Field &field : k_fields) command += std::string("<Element>") + field.element + "</Element>";
  command += "</GetServerInfo>";
  char *response = lm_nmc_api_query(command.c_str(), 1);
  if (response == nullptr) return false;
  nmc_xml_tree tree(upnp_xml_parse(response));
  upnp_free_impl(response);
  if (!tree) return false;
  for (upnp_xml_node *child = tree->children; child != nullptr; child = child->next) {
    if (child->name == nullptr) continue;
    if (std::strcmp(child->name, "Result") == 0) {
      const char *code = upnp_xml_find_attribute_value(child, "code");
      if (code == nullptr || std::strcmp(code, "0") != 0) return false;
      continue;
    }
    if (child->value == nullptr || child->value[0] == '\0') continue;
    for (const Field &field : k_fields) {
      if (std::strcmp(field.element, child->name) != 0) continue;
      *values += std::string("<") + field.output + ">" + nmc_xml_escape(child->value) + "</" + field.output + ">";
      break;
    }
  }
  return true;
}

void build(Entry &entry, int index, const std::string &name) {
  std::string values;
  if (!description_values(index, &values)) return;
  std::string info = "<server><name>" + nmc_xml_escape(name.c_str()) + "</name>" + values;
  std::string probe = info + "</server>";
  std::string base = nmc_dms_info_value(probe, "baseURL");
  std::string header = base.empty() ? std::string() : response_header(base);
  int kind = nmc_dms_detect_kind(nmc_dms_info_value(probe, "manufacturer"), nmc_dms_info_value(probe, "modelNumber"),
                                 header);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_dms_server", "Server at %s is %s", base.c_str(),
                nmc_dms_kind_name(kind));
  if (kind != 0) {
    std::string model = nmc_dms_info_value(probe, "modelNumber");
    std::string known = nmc_dms_kind_name(kind);
    if (kind != 2 && !model.empty()) known += " " + model;
    info += "<knownServer>" + nmc_xml_escape(known.c_str()) + "</knownServer>";
    for (const std::string &key : nmc_dms_wellknown_keys(kind)) {
      info += "<wellKnownBookmark>" + nmc_xml_escape(key.c_str()) + "</wellKnownBookmark>";
    }
  }
  entry.info = info + "</server>";
  entry.kind = kind;
  entry.index = index;
  entry.built = true;
}

}  // namespace

const char *nmc_dms_kind_name(int kind) {
  return kind >= 0 && kind < 7 ? k_kind_names[kind] : k_kind_names[0];
}

int nmc_dms_detect_kind(const std::string &manufacturer, const std::string &model_number,
                        const std::string &base_url_header) {
  if (base_url_header.find("zelConnect") != std::string::npos ||
      base_url_header.find("Lumet") != std::string::npos) {
    return model_number.compare(0, 3, "4.4") == 0 ? 2 : 1;
  }
  static const struct {
    const char *manufacturer;
    int kind;
  } k_makers[] = {{"Brevant", 1}, {"Microsoft", 3}, {"Sony", 5}, {"D-Link", 4}, {"Research In Motion", 6}};
  for (const auto &maker : k_makers) {
    if (manufacturer.find(maker.manufacturer) != std::string::npos) return maker.kind;
  }
  return 0;
}

std::string nmc_dms_info_value(const std::string &info, const char *name) {
  nmc_xml_tree tree(upnp_xml_parse(info.c_str()));
  const char *value = tree ? upnp_xml_find_tag_value(tree->children, name) : nullptr;
  return value != nullptr ? value : "";
}

bool nmc_dms_server_get(int index, nmc_dms_server *out) {
  nmc_device_view device;
  if (!nmc_devices_find(NMC_SIDE_SERVER, index, &device)) return false;
  std::shared_ptr<Entry> entry = entry_for(device.udn);
  std::lock_guard<std::mutex> hold(entry->build);
  if (!entry->built || entry->index != device.index) {
    entry->built = false;
    build(*entry, device.index, device.name);
  }
  if (!entry->built) return false;
  out->index = device.index;
  out->udn = device.udn;
  out->kind = entry->kind;
  out->info = entry->info;
  out->update_id = entry->update_id;
  return true;
}

void nmc_dms_server_set_update_id(const std::string &udn, uint64_t update_id) {
  std::shared_ptr<Entry> entry = entry_for(udn);
  std::lock_guard<std::mutex> hold(entry->build);
  if (update_id > entry->update_id) entry->update_id = update_id;
}

void nmc_dms_server_forget(const std::string &udn) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_servers.erase(udn);
}
