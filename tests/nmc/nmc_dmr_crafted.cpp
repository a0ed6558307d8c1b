#include "nmc_dmr_crafted.h"

#include <unistd.h>

#include <cstdlib>

#include "cp_test_util.h"
#include "support_tcp.h"

namespace nmc_test {

namespace {

std::string scpd_of(const std::vector<std::string> &actions, const std::string &variables) {
  std::string text = "<?xml version=\"1.0\"?><scpd><specVersion><major>1</major></specVersion><actionList>";
  for (const std::string &a : actions) text += "<action><name>" + a + "</name></action>";
  return text + "</actionList><serviceStateTable>" + variables + "</serviceStateTable></scpd>";
}

std::string http(const std::string &status, const std::string &body, const std::string &fields = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n" + fields +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string field(const std::string &header, const std::string &name) {
  size_t at = header.find("\r\n" + name + ":");
  if (at == std::string::npos) return std::string();
  at += name.size() + 3;
  while (at < header.size() && header[at] == ' ') ++at;
  return header.substr(at, header.find("\r\n", at) - at);
}

}  // namespace

std::string range_variable(const std::string &name, const std::string &maximum) {
  return "<stateVariable><name>" + name +
         "</name><dataType>ui2</dataType><allowedValueRange><minimum>0</minimum><maximum>" + maximum +
         "</maximum></allowedValueRange></stateVariable>";
}

std::string values_variable(const std::string &name, const std::vector<std::string> &values) {
  std::string text = "<stateVariable><name>" + name + "</name><dataType>string</dataType><allowedValueList>";
  for (const std::string &v : values) text += "<allowedValue>" + v + "</allowedValue>";
  return text + "</allowedValueList></stateVariable>";
}

CraftedRenderer::CraftedRenderer(const CraftedRendererSetup &setup) : setup_(setup) {
  listen_fd_ = test_support::listen_tcp("127.0.0.1", &port_);
  thread_ = std::thread([this] { run(); });
}

CraftedRenderer::~CraftedRenderer() {
  stop_ = true;
  thread_.join();
  for (std::thread &t : workers_) t.join();
  close(listen_fd_);
}

std::string CraftedRenderer::url(const std::string &path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string CraftedRenderer::location() const { return url("/desc.xml"); }

void CraftedRenderer::on_post(std::function<std::string(const std::string &, const std::string &)> handler) {
  std::lock_guard<std::mutex> hold(mutex_);
  on_post_ = std::move(handler);
}

void CraftedRenderer::answer(const std::string &action, const std::string &inner) {
  std::lock_guard<std::mutex> hold(mutex_);
  answers_[action] = inner;
  faults_.erase(action);
}

void CraftedRenderer::fault(const std::string &action, int code) {
  std::lock_guard<std::mutex> hold(mutex_);
  faults_[action] = code;
}

void CraftedRenderer::head(const std::string &path, const std::string &fields, int status) {
  std::lock_guard<std::mutex> hold(mutex_);
  heads_[path] = {fields, status};
}

std::vector<std::string> CraftedRenderer::sent(const std::string &action, const std::string &name) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<std::string> values;
  for (const auto &request : requests_) {
    if (request.first != action) continue;
    size_t open = request.second.find("<" + name + ">");
    size_t close = request.second.find("</" + name + ">");
    if (open == std::string::npos || close == std::string::npos) {
      values.push_back("<none>");
      continue;
    }
    open += name.size() + 2;
    values.push_back(request.second.substr(open, close - open));
  }
  return values;
}

int CraftedRenderer::count(const std::string &action) {
  std::lock_guard<std::mutex> hold(mutex_);
  int n = 0;
  for (const auto &request : requests_) n += request.first == action ? 1 : 0;
  return n;
}

void CraftedRenderer::clear_sent() {
  std::lock_guard<std::mutex> hold(mutex_);
  requests_.clear();
}

void CraftedRenderer::run() {
  cp_test::serve_connections(listen_fd_, stop_, mutex_, workers_, [this](int fd) { serve(fd); });
}

void CraftedRenderer::serve(int fd) {
  std::string request = test_support::read_header(fd);
  size_t end = request.find("\r\n\r\n");
  if (end == std::string::npos) {
    close(fd);
    return;
  }
  std::string header = request.substr(0, end + 2);
  std::string body = request.substr(end + 4);
  size_t length = static_cast<size_t>(std::atol(field(header, "Content-Length").c_str()));
  char chunk[4096];
  while (body.size() < length) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    body.append(chunk, static_cast<size_t>(got));
  }
  std::string method = header.substr(0, header.find(' '));
  size_t path_start = header.find(' ') + 1;
  std::string path = header.substr(path_start, header.find(' ', path_start) - path_start);
  std::string action = field(header, "SOAPACTION");
  if (action.empty()) action = field(header, "SOAPAction");
  size_t hash = action.find('#');
  if (hash != std::string::npos) action = action.substr(hash + 1, action.size() - hash - 2);
  test_support::send_all(fd, reply(method, path, action, body));
  close(fd);
}

std::string CraftedRenderer::reply(const std::string &method, const std::string &path, const std::string &action,
                                   const std::string &body) {
  const std::string tail = setup_.udn.substr(setup_.udn.size() - 6);
  if (method == "GET" && path == "/desc.xml") {
    std::string extra = setup_.device_extra;
    for (size_t at = extra.find("@BASE@"); at != std::string::npos; at = extra.find("@BASE@"))
      extra.replace(at, 6, url(""));
    std::string text = cp_test::description(setup_.udn, "urn:schemas-upnp-org:device:MediaRenderer:1", setup_.name,
                                            {"CM", "RC", "AVT"}, extra);
    const std::string crafted = "<modelName>Crafted</modelName>";
    size_t at = text.find(crafted);
    if (at != std::string::npos) text.replace(at, crafted.size(), "<modelName>" + setup_.model + "</modelName>");
    return http("200 OK", text);
  }
  if (method == "GET" && path == "/" + tail + "/RC.xml") {
    return http("200 OK", scpd_of({"GetVolume", "SetVolume", "GetMute", "SetMute", "GetBrightness", "SetBrightness",
                                   "GetContrast", "SetContrast", "GetLoudness", "SetLoudness", "GetVolumeDB",
                                   "SetVolumeDB", "GetVolumeDBRange"},
                                  setup_.rcs_variables));
  }
  if (method == "GET" && path == "/" + tail + "/AVT.xml") {
    return http("200 OK", scpd_of({"Play", "Pause", "Stop", "Seek", "GetTransportInfo", "GetPositionInfo", "SetAVTransportURI",
                                   "GetCurrentTransportActions", "X_DLNA_GetBytePositionInfo"},
                                  setup_.avt_variables));
  }
  if (method == "GET" && path == "/" + tail + "/CM.xml") {
    return http("200 OK", scpd_of({"GetProtocolInfo"}, ""));
  }
  std::lock_guard<std::mutex> hold(mutex_);
  if (method == "HEAD") {
    auto found = heads_.find(path);
    if (found == heads_.end()) return http("404 Not Found", "");
    std::string status = std::to_string(found->second.second) + (found->second.second == 200 ? " OK" : " Error");
    return "HTTP/1.1 " + status + "\r\n" + found->second.first + "Connection: close\r\n\r\n";
  }
  if (method == "POST" && action.empty() && on_post_) {
    std::string own = on_post_(path, body);
    if (!own.empty()) return own;
  }
  if (method != "POST" || action.empty()) return http("404 Not Found", "");
  requests_.emplace_back(action, body);
  auto fault = faults_.find(action);
  if (fault != faults_.end()) {
    return http("500 Internal Server Error",
                "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail><UPnPError "
                "xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                    std::to_string(fault->second) +
                    "</errorCode><errorDescription>x</errorDescription></UPnPError></detail></s:Fault></s:Body>"
                    "</s:Envelope>");
  }
  auto inner = answers_.find(action);
  const std::string service = path.find("/RC/") != std::string::npos    ? "RenderingControl"
                              : path.find("/CM/") != std::string::npos ? "ConnectionManager"
                                                                       : "AVTransport";
  return http("200 OK",
              "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><u:" +
                  action + "Response xmlns:u=\"urn:schemas-upnp-org:service:" + service + ":1\">" +
                  (inner != answers_.end() ? inner->second : std::string()) + "</u:" + action +
                  "Response></s:Body></s:Envelope>");
}

}  // namespace nmc_test
