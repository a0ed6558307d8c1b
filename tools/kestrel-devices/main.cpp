// kestrel-devices: starts the control point core and prints each device
// added or removed, as it happens, with its kind, index, name, UDN, URL base
// and services. It starts the network stack (SSDP multicast): run it only
// inside the test lab (tests/lab/lab.sh run kestrel-devices ...).
//
//   kestrel-devices [-t SECONDS] [-e] [-l LOGFILE]
//     -t  run for SECONDS (default 20; 0 until interrupted)
//     -e  subscribe to the events of every server and renderer added and
//         print each event that arrives (service, sequence and the
//         changed values as name=value)
//     -l  write the library's log (level info; debug with KD_DEBUG set) to LOGFILE
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "base/upnp_xml_escape.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
bool g_events = false;  // -e: set before the control point starts, read-only after
std::mutex g_mutex;
std::map<std::pair<int, int>, std::string> g_udns;  // (kind, index) -> UDN while added

void on_signal(int) { g_stop = 1; }

std::string services_of(int index, int kind) {
  static const struct {
    unsigned bit;
    const char *name;
  } names[] = {{UPNP_CP_SERVICE_CM, "ConnectionManager"}, {UPNP_CP_SERVICE_RC, "RenderingControl"},
               {UPNP_CP_SERVICE_AVT, "AVTransport"},      {UPNP_CP_SERVICE_CDS, "ContentDirectory"},
               {UPNP_CP_SERVICE_RUIS, "RemoteUIServer"}};
  unsigned bits = upnp_control_get_device_services(index, kind);
  std::string text;
  for (const auto &n : names) {
    if ((bits & n.bit) == 0) continue;
    if (!text.empty()) text += ",";
    text += n.name;
  }
  return text.empty() ? "-" : text;
}

void on_device(int type, int kind, int index, const char *name) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (type == UPNP_CP_EVENT_ADDED) {
    char udn[256], base[1024];
    if (upnp_control_get_device_info(index, nullptr, 0, udn, sizeof udn, kind) != 0) udn[0] = '\0';
    if (upnp_control_get_urlbase(index, base, sizeof base, kind) != 0) base[0] = '\0';
    g_udns[{kind, index}] = udn;
    std::printf("added   %-8s %2d \"%s\" %s %s %s\n", upnp_cp_kind_name(kind), index, name, udn, base,
                services_of(index, kind).c_str());
    if (g_events && upnp_cp_isValidMediaDeviceType(kind)) upnp_control_enable_auto_subscription(index, 1, kind);
  } else {
    std::string udn = g_udns[{kind, index}];
    g_udns.erase({kind, index});
    std::printf("removed %-8s %2d \"%s\" %s\n", upnp_cp_kind_name(kind), index, name, udn.c_str());
  }
  std::fflush(stdout);
}

const char *service_name(unsigned int service) {
  switch (service) {
    case UPNP_CP_SERVICE_AVT: return "AVTransport";
    case UPNP_CP_SERVICE_RC: return "RenderingControl";
    case UPNP_CP_SERVICE_CDS: return "ContentDirectory";
    default: return "?";
  }
}

// What an event says, compactly: its (unescaped) body read as elements, each
// "name=value" from a val attribute (LastChange's form) or from the text of
// an element without children; long values cut, ~160 characters in all.
std::string extract(const char *body) {
  std::string xml(body);
  xml.push_back('\0');
  upnp_xml_unescape(&xml[0]);  // LastChange carries its inner document escaped
  xml.resize(std::strlen(xml.c_str()));
  std::string out;
  size_t at = 0;
  while (out.size() < 160 && (at = xml.find('<', at)) != std::string::npos) {
    size_t end = xml.find('>', at);
    if (end == std::string::npos) break;
    std::string tag = xml.substr(at + 1, end - at - 1);
    at = end + 1;
    if (tag.empty() || tag[0] == '/' || tag[0] == '?' || tag[0] == '!') continue;
    std::string name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
    size_t colon = name.find(':');
    if (colon != std::string::npos) name = name.substr(colon + 1);
    if (name == "propertyset" || name == "property" || name == "Event" || name == "InstanceID") continue;
    std::string value;
    size_t val = tag.find("val=\"");
    if (val != std::string::npos) {
      size_t close = tag.find('"', val + 5);
      value = tag.substr(val + 5, close == std::string::npos ? std::string::npos : close - val - 5);
    } else if (tag.back() != '/') {
      size_t next = xml.find('<', at);
      if (next == std::string::npos || xml.compare(next, 2, "</") != 0) continue;  // has children
      value = xml.substr(at, next - at);
    }
    if (value.size() > 48) value = value.substr(0, 45) + "...";  // metadata and the like
    if (!out.empty()) out += ' ';
    out += name + "=" + value;
  }
  return out;
}

void on_event(int kind, int index, unsigned int service, uint32_t sequence, const char *body) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::printf("event   %-8s %2d %s #%u %s\n", upnp_cp_kind_name(kind), index, service_name(service), sequence,
              extract(body).c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  int seconds = 20;
  const char *log_path = nullptr;
  int option;
  while ((option = getopt(argc, argv, "t:el:h")) != -1) {
    if (option == 't') seconds = std::atoi(optarg);
    else if (option == 'e') g_events = true;
    else if (option == 'l') log_path = optarg;
    else {
      std::fprintf(stderr, "usage: kestrel-devices [-t SECONDS] [-e] [-l LOGFILE]\n");
      return 2;
    }
  }
  upnp_mem_init();
  if (log_path != nullptr) {
    upnp_log_init(log_path);
    upnp_log_set_level(getenv("KD_DEBUG") ? LOG_LEVEL_DEBUG : LOG_LEVEL_INFO);
    upnp_log_set_sources(0xFFFFFFFFu);
  } else {
    upnp_log_set_level(LOG_LEVEL_CRITICAL);
  }
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  // SSDP answers only interfaces with an HTTP port (the callback address).
  if (upnp_ini_file_getInt(INI_HTTPPORT) == 0) upnp_ini_file_setPropertyByKey(INI_HTTPPORT, "9000");
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  if (upnp_control_init2(0) != 0) {
    std::fprintf(stderr, "kestrel-devices: the control point did not start\n");
    return 1;
  }
  if (g_events) upnp_cp_register_subscription_callback(on_event);
  upnp_control_register_callback(on_device);
  for (int waited = 0; !g_stop && (seconds == 0 || waited < seconds * 10); ++waited) usleep(100000);
  upnp_control_register_callback(nullptr);
  if (g_events) upnp_cp_register_subscription_callback(nullptr);
  upnp_control_exit();
  if (log_path != nullptr) upnp_log_exit();
  return 0;
}
