// Checks a request passes before any command runs: the Host it names (DNS
// rebinding), the Origin of state-changing commands (cross-site use), and
// the client address for the log and upload commands.
#include <strings.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_local_addr.h"
#include "webapi/webapi_internal.h"

namespace {

// Set by the host application (kestrel-host --web-local-admin); read by
// every request thread.
std::atomic<bool> g_admin_loopback_only{false};

unsigned int port_of_base_url(const char *base_url) {
  const char *p = std::strstr(base_url, "://");
  if (!p) return 0;
  p += 3;
  const char *colon = std::strchr(p, ':');
  const char *slash = std::strchr(p, '/');
  if (!colon || (slash && colon > slash)) return 80;
  return static_cast<unsigned int>(std::strtoul(colon + 1, nullptr, 10));
}

// "host[:port]" against our own names and the API's port.
bool authority_ok(const std::string &authority, unsigned int api_port) {
  if (authority.empty() || authority.size() > 255) return false;
  std::string host = authority;
  unsigned int port = 80;
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos) {
    host = authority.substr(0, colon);
    std::string digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    for (char d : digits) {
      if (!std::isdigit(static_cast<unsigned char>(d))) return false;
    }
    port = static_cast<unsigned int>(std::strtoul(digits.c_str(), nullptr, 10));
  }
  if (port != api_port) return false;
  if (strcasecmp(host.c_str(), "localhost") == 0 || host == "127.0.0.1") return true;
  for (char h : host) {
    if (!std::isdigit(static_cast<unsigned char>(h)) && h != '.') return false;
  }
  return is_local_ip(host.c_str()) != 0;
}

}  // namespace

bool webapi_header_field(const HTTP_connection *connection, const char *name, std::string *value) {
  const char *header = connection->header;
  const char *line = std::strstr(header, "\n");
  size_t name_length = std::strlen(name);
  while (line) {
    ++line;
    if (strncasecmp(line, name, name_length) == 0 && line[name_length] == ':') {
      const char *v = line + name_length + 1;
      while (*v == ' ' || *v == '\t') ++v;
      const char *end = v;
      while (*end && *end != '\r' && *end != '\n') ++end;
      while (end > v && (end[-1] == ' ' || end[-1] == '\t')) --end;
      value->assign(v, static_cast<size_t>(end - v));
      return true;
    }
    line = std::strchr(line, '\n');
  }
  return false;
}

int webapi_check_host(const HTTP_connection *connection, const std::string &target) {
  unsigned int api_port = port_of_base_url(connection->base_url);
  std::string host;
  if (!webapi_header_field(connection, "Host", &host) || !authority_ok(host, api_port)) return WEBAPI_BAD_REQUEST;
  if (strncasecmp(target.c_str(), "http://", 7) == 0) {
    size_t slash = target.find('/', 7);
    std::string authority = target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    if (!authority_ok(authority, api_port)) return WEBAPI_BAD_REQUEST;
  } else if (target.empty() || target[0] != '/') {
    return WEBAPI_BAD_REQUEST;
  }
  return 0;
}

bool webapi_origin_allowed(const HTTP_connection *connection) {
  std::string origin;
  if (!webapi_header_field(connection, "Origin", &origin)) return true;  // not from a web page
  std::string host;
  if (!webapi_header_field(connection, "Host", &host)) return false;
  std::string own = "http://" + host;
  return strcasecmp(origin.c_str(), own.c_str()) == 0;
}

bool webapi_client_is_loopback(const HTTP_connection *connection) {
  return std::strncmp(connection->peer_address, "127.", 4) == 0;
}

void webapi_set_admin_loopback_only(bool on) { g_admin_loopback_only.store(on); }
bool webapi_admin_loopback_only(void) { return g_admin_loopback_only.load(); }
