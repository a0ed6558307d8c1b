#include "soap_test_util.h"

#include <cstdlib>
#include <cstring>

#include "support_tcp.h"

namespace {

FakeDevice *g_device = nullptr;

int fake_lock() { return g_device && g_device->lock_available ? 1 : 0; }
void fake_unlock() {}

std::map<unsigned, upnp_xml_node *> g_scpds;

int fake_lookup(int index, int kind, unsigned service, upnp_soap_device_view *view) {
  *view = upnp_soap_device_view{};
  g_device->lookups++;
  g_device->last_index = index;
  g_device->last_kind = kind;
  if (g_device->lookup_rc) return g_device->lookup_rc;
  view->name = g_device->name.c_str();
  view->url_base = g_device->url_base.c_str();
  view->broken_actions = g_device->broken;
  auto it = g_device->services.find(service);
  if (it != g_device->services.end()) {
    view->has_service = 1;
    view->control_url = it->second.control_url.c_str();
    auto s = g_scpds.find(service);
    view->scpd = s == g_scpds.end() ? nullptr : s->second;
  }
  return 0;
}

void fake_invalidate(int, int) { g_device->invalidations++; }

const upnp_soap_device_access kAccess = {fake_lock, fake_unlock, fake_lookup, fake_invalidate};

}  // namespace

FakeDeviceTable::FakeDeviceTable() {
  g_device = &device_;
  upnp_set_errmsgs(upnp_cp_errmsgs());
  upnp_soap_set_device_access(&kAccess);
}

FakeDeviceTable::~FakeDeviceTable() {
  upnp_soap_set_device_access(nullptr);
  for (auto &s : g_scpds) upnp_xml_release(s.second);
  g_scpds.clear();
  g_device = nullptr;
}

void FakeDeviceTable::add_service(unsigned service, const std::string &control_url,
                                  const std::vector<std::string> &actions, const std::string &state_variables) {
  std::string scpd = "<?xml version=\"1.0\"?><scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><actionList>";
  for (const auto &a : actions) scpd += "<action><name>" + a + "</name></action>";
  scpd += "</actionList><serviceStateTable>" + state_variables + "</serviceStateTable></scpd>";
  device_.services[service] = FakeService{control_url, scpd};
  auto old = g_scpds.find(service);
  if (old != g_scpds.end()) upnp_xml_release(old->second);
  g_scpds[service] = upnp_xml_parse(scpd.c_str());
}

SoapServer::SoapServer(Reply reply) : reply_(std::move(reply)) {
  server_ = std::make_unique<TestServer>([this](TestServer &, int fd, const std::string &request) {
    size_t end = request.find("\r\n\r\n");
    if (end == std::string::npos) return;
    std::string head = request.substr(0, end);
    size_t length = std::strtoul(test_support::header_value(head, "Content-Length").c_str(), nullptr, 10);
    std::string all = TestServer::read_more(fd, end + 4 + length, request);
    SoapRequest r;
    size_t sp = head.find(' ');
    r.path = head.substr(sp + 1, head.find(' ', sp + 1) - sp - 1);
    r.soap_action = test_support::header_value(head, "SOAPACTION");
    r.body = all.substr(end + 4);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      requests_.push_back(r);
    }
    std::string answer = reply_(r);
    if (!answer.empty()) TestServer::send_all(fd, answer);
  });
}

std::vector<SoapRequest> SoapServer::requests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

std::string SoapServer::ok(const std::string &inner) {
  return http_response("200 OK",
                       "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
                           inner + "</s:Body></s:Envelope>",
                       "Content-Type: text/xml; charset=\"utf-8\"\r\n");
}

std::string SoapServer::fault(int code, const std::string &description) {
  return http_response(
      "500 Internal Server Error",
      "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
      "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
      "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
          std::to_string(code) + "</errorCode><errorDescription>" + description +
          "</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>",
      "Content-Type: text/xml; charset=\"utf-8\"\r\n");
}
