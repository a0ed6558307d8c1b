#include "cp_test_util.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "base/upnp_ini_file.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "support_tcp.h"

namespace cp_test {

void serve_connections(int listen_fd, const std::atomic<bool> &stop, std::mutex &mutex,
                       std::vector<std::thread> &workers, const std::function<void(int fd)> &answer) {
  while (!stop) {
    int fd = test_support::accept_within(listen_fd, 20);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> hold(mutex);
    workers.emplace_back([answer, fd] { answer(fd); });
  }
}

FileServer::FileServer(const char *address) : address_(address) {
  listen_fd_ = listen_tcp(address, &port_);
  thread_ = std::thread([this] { run(); });
}

FileServer::~FileServer() {
  stop_ = true;
  thread_.join();
  for (std::thread &t : workers_) t.join();
  close(listen_fd_);
}

void FileServer::put(const std::string &path, const std::string &body, int delay_ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  files_[path] = {body, delay_ms};
}

void FileServer::remove(const std::string &path) {
  std::lock_guard<std::mutex> hold(mutex_);
  files_.erase(path);
}

std::string FileServer::url(const std::string &path) const {
  return "http://" + address_ + ":" + std::to_string(port_) + path;
}

int FileServer::hits(const std::string &path) {
  std::lock_guard<std::mutex> hold(mutex_);
  return hits_[path];
}

void FileServer::run() {
  serve_connections(listen_fd_, stop_, mutex_, workers_, [this](int fd) { answer(fd); });
}

void FileServer::answer(int fd) {
  std::string request = test_support::read_header(fd);
  std::string path;
  size_t sp = request.find(' ');
  if (sp != std::string::npos) {
    size_t end = request.find(' ', sp + 1);
    path = request.substr(sp + 1, end - sp - 1);
    if (path.compare(0, 7, "http://") == 0) path = path.substr(path.find('/', 7));
  }
  std::string body;
  int delay = 0;
  bool found = false;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ++hits_[path];
    auto it = files_.find(path);
    if (it != files_.end()) {
      found = true;
      body = it->second.first;
      delay = it->second.second;
    }
  }
  for (int slept = 0; slept < delay && !stop_; slept += 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::string reply = found ? "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n" : "HTTP/1.1 404 Not Found\r\n";
  reply += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  test_support::send_all(fd, reply);
  close(fd);
}

namespace {

std::string service_xml(const std::string &tail, const std::string &which) {
  static const std::map<std::string, std::string> types = {
      {"CM", "urn:schemas-upnp-org:service:ConnectionManager:1"},
      {"RC", "urn:schemas-upnp-org:service:RenderingControl:1"},
      {"AVT", "urn:schemas-upnp-org:service:AVTransport:1"},
      {"CDS", "urn:schemas-upnp-org:service:ContentDirectory:1"},
      {"MRR", "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1"},
      {"RUIS", "urn:schemas-upnp-org:service:RemoteUIServer:1"}};
  return "<service><serviceType>" + types.at(which) + "</serviceType><serviceId>urn:upnp-org:serviceId:" + which +
         "</serviceId><controlURL>/" + tail + "/" + which + "/control</controlURL><eventSubURL>/" + tail + "/" +
         which + "/event</eventSubURL><SCPDURL>/" + tail + "/" + which + ".xml</SCPDURL></service>";
}

}  // namespace

std::string description(const std::string &udn, const std::string &device_type, const std::string &name,
                        const std::vector<std::string> &services, const std::string &extra,
                        const std::string &url_base) {
  std::string tail = udn.substr(udn.size() > 6 ? udn.size() - 6 : 0);
  std::string text = "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                     "<specVersion><major>1</major><minor>0</minor></specVersion>";
  if (!url_base.empty()) text += "<URLBase>" + url_base + "</URLBase>";
  text += "<device><deviceType>" + device_type + "</deviceType>";
  if (!name.empty()) text += "<friendlyName>" + name + "</friendlyName>";
  text += "<modelName>Crafted</modelName><UDN>" + udn + "</UDN>" + extra + "<serviceList>";
  for (const std::string &s : services) text += service_xml(tail, s);
  text += "</serviceList></device></root>";
  return text;
}

std::string scpd(const std::vector<std::string> &actions) {
  std::string text = "<?xml version=\"1.0\"?><scpd><specVersion><major>1</major></specVersion><actionList>";
  for (const std::string &a : actions) text += "<action><name>" + a + "</name></action>";
  return text + "</actionList></scpd>";
}

namespace {

std::mutex g_received_mutex;
std::vector<Received> g_received;

}  // namespace

void record_event(int kind, int index, unsigned int service, uint32_t sequence, const char *body) {
  std::lock_guard<std::mutex> hold(g_received_mutex);
  g_received.push_back({kind, index, service, sequence, body ? body : ""});
}

std::vector<Received> recorded_events() {
  std::lock_guard<std::mutex> hold(g_received_mutex);
  return g_received;
}

void clear_recorded_events() {
  std::lock_guard<std::mutex> hold(g_received_mutex);
  g_received.clear();
}

std::mutex CpTest::s_mutex;
std::vector<Event> CpTest::s_events;

void CpTest::callback(int type, int kind, int index, const char *name) {
  std::lock_guard<std::mutex> hold(s_mutex);
  s_events.push_back({type, kind, index, name ? name : ""});
}

void CpTest::SetUp() {
  upnp_mem_init();
  upnp_ini_file_init();
  upnp_ini_file_dmc_init();
  {
    std::lock_guard<std::mutex> hold(s_mutex);
    s_events.clear();
  }
}

void CpTest::TearDown() {
  upnp_control_exit();
  upnp_ini_file_release_on_exit();
}

std::string CpTest::serve_device(const std::string &udn, int kind, const std::string &name,
                                 std::vector<std::string> services, int delay_ms, const std::string &extra) {
  std::string tail = udn.substr(udn.size() > 6 ? udn.size() - 6 : 0);
  if (services.empty()) services = kind == 1 ? std::vector<std::string>{"CM", "CDS"} : std::vector<std::string>{"CM", "RC", "AVT"};
  std::string type = kind == 1 ? "urn:schemas-upnp-org:device:MediaServer:1" : "urn:schemas-upnp-org:device:MediaRenderer:1";
  for (const std::string &s : services) {
    if (s == "CDS") server_.put("/" + tail + "/CDS.xml", scpd({"Browse", "CreateObject", "CreateReference", "DestroyObject", "UpdateObject"}));
    else server_.put("/" + tail + "/" + s + ".xml", scpd({"Get"}));
  }
  server_.put("/" + tail + "/desc.xml", description(udn, type, name, services, extra), delay_ms);
  return server_.url("/" + tail + "/desc.xml");
}

int CpTest::add_ready(const std::string &udn, int kind, const std::string &location) {
  upnp_control_add_device(location.c_str(), udn.c_str(), "127.0.0.1:9000", 1800, kind);
  int index = -1;
  wait_until(
      [&] {
        index = index_of(udn, kind);
        return index >= 0 && upnp_control_get_device_state(index, kind) == UPNP_CP_STATE_READY;
      },
      5000);
  return index;
}

std::vector<Event> CpTest::events() {
  std::lock_guard<std::mutex> hold(s_mutex);
  return s_events;
}

int CpTest::count_events(int type, int kind, int index) {
  int n = 0;
  for (const Event &e : events()) n += (e.type == type && e.kind == kind && e.index == index) ? 1 : 0;
  return n;
}

int CpTest::index_of(const std::string &udn, int kind) { return upnp_control_get_device_index(udn.c_str(), kind); }

long process_status_value(const char *field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return -1;
}

int usable_count(int kind) {
  int n = 0;
  for (int i = kind == 1 ? upnp_control_get_next_server_index(-1) : upnp_control_get_next_renderer_index(-1); i >= 0;
       i = kind == 1 ? upnp_control_get_next_server_index(i) : upnp_control_get_next_renderer_index(i))
    ++n;
  return n;
}

}  // namespace cp_test
