// Test support of the lab tests: see cp_lab_util.h.
#include "cp_lab_util.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap.h"
#include "cp_test_util.h"

namespace cp_lab {

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool inside_lab() { return !env("LAB_ADDR").empty(); }

std::string http_url(const std::string &path) {
  std::string url = env("LAB_HTTP_URL");
  if (!url.empty() && url.back() != '/') url += '/';
  return url + path;
}

int lab(const std::string &command) {
  std::string line = std::string(CP_SOURCE_DIR) + "/tests/lab/lab.sh " + command + " >/dev/null 2>&1";
  return std::system(line.c_str());
}

std::string take(char *text) {
  std::string out = text != nullptr ? text : "";
  upnp_free_impl(text);
  return out;
}

std::vector<Peer> peers() {
  std::vector<Peer> out{{env("LAB_SERVER_UDN"), env("LAB_SERVER_NAME"), env("LAB_SERVER_DESC"), 1}};
  int count = std::atoi(env("LAB_RENDERERS").c_str());
  for (int i = 1; i <= count; ++i) {
    std::string p = "LAB_RENDERER" + std::to_string(i);
    out.push_back({env((p + "_UDN").c_str()), env((p + "_NAME").c_str()), env((p + "_DESC").c_str()), 2});
  }
  return out;
}

void init_settings() {
  upnp_mem_init();
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
}

void init_log(int level) {
  if (!env("CP_LAB_LOG").empty()) {
    upnp_log_init(env("CP_LAB_LOG").c_str());
    upnp_log_set_sources(0xFFFFFFFFu);
    upnp_log_set_level(level);
  } else {
    upnp_log_set_level(LOG_LEVEL_CRITICAL);
  }
}

bool start_control_point(const char *http_port) {
  upnp_ini_file_setPropertyByKey(INI_HTTPPORT, http_port);
  return upnp_control_init2(0) == 0;
}

int add_and_wait_usable(const std::string &desc, const std::string &udn, int kind) {
  cp_add_device(desc.c_str(), udn.c_str(), (env("LAB_ADDR") + ":9000").c_str(), 1800, kind);
  int index = -1;
  bool usable = cp_test::wait_until([&] {
    index = upnp_control_get_device_index(udn.c_str(), kind);
    return index >= 0 && upnp_cp_isValidIndex(index, kind) == 1 && upnp_control_get_device_services(index, kind) != 0;
  }, 15000);
  return usable ? index : -1;
}

std::vector<std::string> child_ids(int server, const std::string &parent, const std::string &title, size_t count) {
  std::vector<std::string> ids;
  upnp_xml_node *reply = nullptr;
  if (upnp_control_browse(server, parent.c_str(), "*", 0, 200, nullptr, &reply) != 0) return ids;
  const char *result = upnp_xml_find_tag_value(reply, "Result");
  upnp_xml_node *doc = result != nullptr ? upnp_xml_parse(result) : nullptr;
  for (upnp_xml_node *e = doc != nullptr ? doc->children : nullptr; e != nullptr && ids.size() < count; e = e->next) {
    const char *t = upnp_xml_find_tag_value(e->children, "dc:title");
    if (title.empty() || (t != nullptr && title == t)) ids.push_back(upnp_xml_find_attribute_value(e, "id"));
  }
  upnp_xml_release(doc);
  upnp_xml_release(reply);
  return ids;
}

std::string wait_transport_state(int renderer, const char *want, int seconds) {
  std::string state;
  for (int i = 0; i < seconds * 5; ++i) {
    char *s = nullptr;
    if (upnp_gettransportinfo(renderer, &s) == 0) state = take(s);
    if (state == want) break;
    Sleep(200);
  }
  return state;
}

int peer_group(const std::string &name) {
  std::ifstream in(env("LAB_DIR") + "/pids");
  std::string pid, start, who;
  int found = 0;
  while (in >> pid >> start >> who)
    if (who == name) found = std::atoi(pid.c_str());
  return found;
}

std::vector<PeerConnection> peer_connections(const std::string &process, int port) {
  // One line per socket, then an indented line of its TCP counters; bytes_sent
  // is left out while it is 0.
  std::string command = "nsenter -t " + env("LAB_PEERS_NS_PID") + " -n ss -Htinp state all dport = :" +
                        std::to_string(port) + " 2>/dev/null";
  std::vector<PeerConnection> out;
  FILE *ss = popen(command.c_str(), "r");
  if (ss == nullptr) return out;
  bool ours = false;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, ss) != nullptr) {
    std::string line = buffer;
    if (!line.empty() && line[0] != ' ' && line[0] != '\t') {
      ours = line.find("((\"" + process + "\"") != std::string::npos;
      if (ours) out.push_back({line.substr(0, line.find(' ')), 0});
    } else if (ours) {
      size_t at = line.find(" bytes_sent:");
      if (at != std::string::npos) out.back().bytes_sent = std::strtoull(line.c_str() + at + 12, nullptr, 10);
    }
  }
  pclose(ss);
  return out;
}

void start_with_lab_devices(int *server, int *renderer) {
  upnp_cp_start(0, 0);
  *server = add_and_wait_usable(env("LAB_SERVER_DESC"), env("LAB_SERVER_UDN"), UPNP_CP_KIND_SERVER);
  *renderer = add_and_wait_usable(env("LAB_RENDERER_DESC"), env("LAB_RENDERER_UDN"), UPNP_CP_KIND_RENDERER);
}

int usable_index(const std::string &udn, int kind, int ms) {
  int index = -1;
  cp_test::wait_until([&] {
    index = upnp_control_get_device_index(udn.c_str(), kind);
    return index >= 0 && upnp_cp_isValidIndex(index, kind);
  }, ms);
  return index;
}

int LabDevices::server_ = -1;
int LabDevices::renderer_ = -1;

void LabDevices::SetUpTestSuite() {
  init_settings();
  upnp_set_errmsgs(upnp_cp_errmsgs());
  start_with_lab_devices(&server_, &renderer_);
}

void LabDevices::TearDownTestSuite() {
  upnp_control_exit();
  upnp_ini_file_release();
}

}  // namespace cp_lab
