// The request target of an RPC call: read raw from the request line, split
// into the command segment and the query, each name and value decoded once.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "webapi/webapi_internal.h"

namespace {

const char kPrefix[] = "/nmc/rpc";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const std::string *find(const webapi_call &call, const char *name) {
  std::string key(name);
  if (!key.empty() && key.back() == '=') key.pop_back();
  for (const auto &p : call.params) {
    if (p.first == key) return &p.second;
  }
  return nullptr;
}

}  // namespace

bool webapi_url_decode(const std::string &in, std::string *out) {
  out->clear();
  out->reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '+') {
      out->push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= in.size()) return false;  // an escape cut short
      int hi = hex_value(in[i + 1]);
      int lo = hex_value(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      char decoded = static_cast<char>(hi * 16 + lo);
      if (decoded == '\0') return false;
      out->push_back(decoded);
      i += 2;
    } else if (c == '\0') {
      return false;
    } else {
      out->push_back(c);
    }
  }
  return true;
}

bool webapi_raw_target(const HTTP_connection *connection, std::string *target) {
  target->clear();
  const char *header = connection->header;
  const char *end = std::strpbrk(header, "\r\n");
  if (!end) return false;  // the line did not end within what the server kept
  const char *space = std::strchr(header, ' ');
  if (!space || space > end) return false;
  while (*space == ' ') ++space;
  const char *stop = space;
  while (stop < end && *stop != ' ') ++stop;
  target->assign(space, static_cast<size_t>(stop - space));
  return !target->empty() && target->size() <= WEBAPI_MAX_TARGET;
}

bool webapi_parse_target(const std::string &raw, webapi_call *call) {
  call->command.clear();
  call->params.clear();
  std::string target = raw;
  if (target.compare(0, 7, "http://") == 0 || target.compare(0, 7, "HTTP://") == 0) {
    size_t slash = target.find('/', 7);
    if (slash == std::string::npos) return false;
    target = target.substr(slash);
  }
  size_t question = target.find('?');
  std::string path = target.substr(0, question);
  std::string query = question == std::string::npos ? std::string() : target.substr(question + 1);
  std::string decoded_path;
  if (!webapi_url_decode(path, &decoded_path)) return false;
  if (decoded_path.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return false;
  std::string rest = decoded_path.substr(sizeof kPrefix - 1);
  if (!rest.empty() && rest[0] != '/') return false;  // "/nmc/rpcx" is no RPC path
  if (!rest.empty()) rest.erase(0, 1);
  // The command is the whole segment; anything after a further "/" makes it
  // a segment no command has.
  call->command = rest;
  size_t at = 0;
  while (at <= query.size() && !query.empty()) {
    size_t amp = query.find('&', at);
    std::string pair = query.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
    if (!pair.empty()) {
      size_t eq = pair.find('=');
      std::string name;
      std::string value;
      if (!webapi_url_decode(pair.substr(0, eq), &name)) return false;
      if (eq != std::string::npos && !webapi_url_decode(pair.substr(eq + 1), &value)) return false;
      call->params.emplace_back(std::move(name), std::move(value));
    }
    if (amp == std::string::npos) break;
    at = amp + 1;
  }
  std::string callback;
  if (get_param(*call, "callback", &callback)) {
    call->callback_given = true;
    call->callback_valid = webapi_callback_name_ok(callback);
    if (call->callback_valid) call->callback = callback;
  }
  return true;
}

bool get_param(const webapi_call &call, const char *name, std::string *value) {
  const std::string *found = find(call, name);
  if (!found) return false;
  if (value) *value = *found;
  return true;
}

int32_t get_int_param(const webapi_call &call, const char *name) {
  const std::string *found = find(call, name);
  if (!found) return -1;
  return static_cast<int32_t>(std::atoi(found->c_str()));
}

int64_t get_int64_param(const webapi_call &call, const char *name) {
  const std::string *found = find(call, name);
  if (!found) return 0;
  return static_cast<int64_t>(std::atoll(found->c_str()));
}

bool webapi_number(const webapi_call &call, const char *name, int64_t minimum, int64_t maximum, int64_t *value) {
  const std::string *found = find(call, name);
  if (!found || found->empty() || found->size() > 20) return false;
  const char *text = found->c_str();
  for (const char *p = text; *p; ++p) {
    if (!((*p >= '0' && *p <= '9') || (p == text && (*p == '-' || *p == '+')))) return false;
  }
  errno = 0;
  char *end = nullptr;
  long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  if (parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}
