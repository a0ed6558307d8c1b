#include "nmc_dms_server.h"

#include <cstdlib>

#include "base/upnp_xml.h"
#include "cp_test_util.h"
#include "support_tcp.h"

namespace nmc_test {

namespace {

CdsCall parse_call(const std::string &body) {
  CdsCall call;
  upnp_xml_node *tree = upnp_xml_parse(body.c_str());
  upnp_xml_node *envelope_body = tree != nullptr ? tree->children : nullptr;
  while (envelope_body != nullptr && std::string(envelope_body->name).find("Body") == std::string::npos) {
    envelope_body = envelope_body->next;
  }
  upnp_xml_node *action = envelope_body != nullptr ? envelope_body->children : nullptr;
  if (action != nullptr) {
    std::string name = action->name;
    call.action = name.substr(name.find(':') + 1);
    for (upnp_xml_node *arg = action->children; arg != nullptr; arg = arg->next) {
      call.args[arg->name] = arg->value != nullptr ? arg->value : "";
    }
  }
  upnp_xml_release(tree);
  return call;
}

}  // namespace

CdsServer::CdsServer(const std::string &udn, const std::string &name, const std::string &extra, bool with_search)
    : device_extra(extra), udn_(udn), name_(name), with_search_(with_search) {
  server_ = std::make_unique<TestServer>([this](TestServer &, int fd, const std::string &request) {
    size_t end = request.find("\r\n\r\n");
    if (end == std::string::npos) return;
    std::string head = request.substr(0, end);
    size_t sp = head.find(' ');
    std::string method = head.substr(0, sp);
    std::string path = head.substr(sp + 1, head.find(' ', sp + 1) - sp - 1);
    std::string tail = udn_.substr(udn_.size() - 6);
    if (method == "GET") {
      std::string body, fields;
      if (path == "/desc.xml") {
        body = cp_test::description(udn_, "urn:schemas-upnp-org:device:MediaServer:1", name_, {"CM", "CDS"},
                                    device_extra);
        const std::string crafted = "<modelName>Crafted</modelName>";
        if (device_extra.find("<modelName>") != std::string::npos) body.erase(body.find(crafted), crafted.size());
      } else if (path == "/" + tail + "/CDS.xml") {
        std::vector<std::string> actions = {"Browse", "GetSortCapabilities", "GetSystemUpdateID", "UpdateObject",
                                            "DestroyObject", "CreateReference", "CreateObject"};
        if (with_search_) {
          actions.push_back("Search");
          actions.push_back("GetSearchCapabilities");
        }
        body = cp_test::scpd(actions);
      } else if (path == "/" + tail + "/CM.xml") {
        body = cp_test::scpd({"GetProtocolInfo"});
      } else if (path == "/") {
        body = "root";
        fields = root_header;
      } else {
        auto hook = other_get.get();
        std::string own = hook ? hook(path) : std::string();
        TestServer::send_all(fd, !own.empty() ? own : http_response("404 Not Found", ""));
        return;
      }
      TestServer::send_all(fd, http_response("200 OK", body, "Content-Type: text/xml\r\n" + fields));
      return;
    }
    size_t length = std::strtoul(test_support::header_value(head, "Content-Length").c_str(), nullptr, 10);
    std::string all = TestServer::read_more(fd, end + 4 + length, request);
    CdsCall call = parse_call(all.substr(end + 4));
    {
      std::lock_guard<std::mutex> hold(mutex_);
      calls_.push_back(call);
    }
    auto hook = reply.get();
    std::string own = hook ? hook(call) : std::string();
    TestServer::send_all(fd, !own.empty() ? own : answer(call));
  });
}

CdsServer::~CdsServer() = default;

void CdsServer::add(const CdsObject &object) {
  std::lock_guard<std::mutex> hold(mutex_);
  objects_.push_back(object);
}

void CdsServer::add_items(const std::string &container, int count, const std::string &prefix) {
  for (int i = 0; i < count; ++i) {
    CdsObject item;
    item.id = container + "$" + std::to_string(i);
    item.parent = container;
    item.title = prefix + " " + std::to_string(i);
    item.upnp_class = "object.item.audioItem.musicTrack";
    add(item);
  }
}

std::string CdsServer::description_url() const { return server_->url("/desc.xml"); }
std::string CdsServer::base_url() const { return server_->url("/"); }

std::vector<CdsCall> CdsServer::calls() {
  std::lock_guard<std::mutex> hold(mutex_);
  return calls_;
}

std::vector<CdsCall> CdsServer::calls_of(const std::string &action) {
  std::vector<CdsCall> found;
  for (const CdsCall &call : calls()) {
    if (call.action == action) found.push_back(call);
  }
  return found;
}

void CdsServer::clear_calls() {
  std::lock_guard<std::mutex> hold(mutex_);
  calls_.clear();
}

std::string CdsServer::escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string CdsServer::soap_ok(const std::string &inner) {
  return http_response("200 OK",
                       "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                       "<s:Body>" + inner + "</s:Body></s:Envelope>",
                       "Content-Type: text/xml; charset=\"utf-8\"\r\n");
}

std::string CdsServer::soap_fault(int code) {
  return http_response(
      "500 Internal Server Error",
      "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
      "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
      "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" + std::to_string(code) +
          "</errorCode><errorDescription>x</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>",
      "Content-Type: text/xml; charset=\"utf-8\"\r\n");
}

std::vector<const CdsObject *> CdsServer::children(const std::string &id) {
  std::vector<const CdsObject *> found;
  for (const CdsObject &object : objects_) {
    if (object.parent == id) found.push_back(&object);
  }
  return found;
}

std::string CdsServer::didl(const std::vector<const CdsObject *> &objects) {
  std::string text = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                     "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                     "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
  for (const CdsObject *o : objects) {
    const char *tag = o->container ? "container" : "item";
    text += std::string("<") + tag;
    if (!o->no_id) text += " id=\"" + escape(o->id) + "\"";
    if (!o->no_parent) text += " parentID=\"" + escape(o->parent) + "\"";
    if (o->container && !o->no_child_count) text += " childCount=\"" + std::to_string(children(o->id).size()) + "\"";
    text += " restricted=\"1\">";
    if (!o->no_title) text += "<dc:title>" + escape(o->title) + "</dc:title>";
    std::string cls = !o->upnp_class.empty() ? o->upnp_class
                                             : (o->container ? "object.container.storageFolder" : "object.item");
    text += "<upnp:class>" + cls + "</upnp:class>" + o->extra + "</" + tag + ">";
  }
  return text + "</DIDL-Lite>";
}

std::string CdsServer::answer(const CdsCall &call) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto arg = [&call](const char *name) {
    auto found = call.args.find(name);
    return found != call.args.end() ? found->second : std::string();
  };
  const std::string u = "xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"";
  if (call.action == "Browse" || call.action == "Search") {
    std::vector<const CdsObject *> all;
    if (call.action == "Search") {
      for (const CdsObject &o : objects_) {
        if (!o.container) all.push_back(&o);
      }
    } else if (arg("BrowseFlag") == "BrowseMetadata") {
      for (const CdsObject &o : objects_) {
        if (o.id == arg("ObjectID")) all.push_back(&o);
      }
      if (all.empty()) return soap_fault(701);
    } else {
      all = children(arg("ObjectID"));
    }
    size_t start = std::strtoul(arg("StartingIndex").c_str(), nullptr, 10);
    size_t count = std::strtoul(arg("RequestedCount").c_str(), nullptr, 10);
    if (count == 0) count = all.size();
    std::vector<const CdsObject *> page;
    for (size_t i = start; i < all.size() && page.size() < count; ++i) page.push_back(all[i]);
    std::string name = call.action + "Response";
    return soap_ok("<u:" + name + " " + u + "><Result>" + escape(didl(page)) + "</Result><NumberReturned>" +
                   std::to_string(page.size() + returned_extra) + "</NumberReturned><TotalMatches>" +
                   std::to_string(total_zero ? 0 : all.size()) + "</TotalMatches><UpdateID>1</UpdateID></u:" + name +
                   ">");
  }
  if (call.action == "GetSearchCapabilities") {
    return soap_ok("<u:GetSearchCapabilitiesResponse " + u +
                   "><SearchCaps>dc:title,upnp:artist</SearchCaps></u:GetSearchCapabilitiesResponse>");
  }
  if (call.action == "GetSortCapabilities") {
    return soap_ok("<u:GetSortCapabilitiesResponse " + u + "><SortCaps>dc:title</SortCaps></u:GetSortCapabilitiesResponse>");
  }
  if (call.action == "GetSystemUpdateID") {
    return soap_ok("<u:GetSystemUpdateIDResponse " + u + "><Id>7</Id></u:GetSystemUpdateIDResponse>");
  }
  if (call.action == "UpdateObject" || call.action == "DestroyObject") {
    return soap_ok("<u:" + call.action + "Response " + u + "/>");
  }
  return soap_fault(401);
}

}  // namespace nmc_test
