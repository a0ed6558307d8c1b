// A feed request read once from the raw target: the feed it names, the
// bookmarks after "/RB" and "/IB", and the query; the page it asks for.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "webapi/webapi_rss.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent escapes only: in a path "+" is itself.
bool path_decode(const std::string &in, std::string *out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '%') {
      if (i + 2 >= in.size()) return false;  // an escape cut short
      int hi = hex_value(in[i + 1]);
      int lo = hex_value(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return false;
    out->push_back(c);
  }
  return true;
}

// A number of the query: absent or not a number gives `fallback`; beyond
// 64 bits clamps.
int64_t number(const webapi_call &call, const char *name, int64_t fallback) {
  std::string text;
  if (!get_param(call, name, &text) || text.empty()) return fallback;
  errno = 0;
  char *end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return fallback;
  return static_cast<int64_t>(value);
}

}  // namespace

bool webapi_feed_parse(const std::string &raw, const char *prefix, webapi_feed_request *request) {
  *request = webapi_feed_request();
  std::string target = raw;
  if (target.compare(0, 7, "http://") == 0 || target.compare(0, 7, "HTTP://") == 0) {
    size_t slash = target.find('/', 7);
    if (slash == std::string::npos) return false;
    target = target.substr(slash);
  }
  size_t question = target.find('?');
  std::string path = target.substr(0, question);
  std::string query = question == std::string::npos ? std::string() : target.substr(question);
  // The query reads exactly as an RPC call's (names whole, values decoded
  // once, the callback checked).
  if (!webapi_parse_target("/nmc/rpc" + query, &request->call)) return false;
  request->call.command.clear();

  // Bookmarks are split from the raw path before anything is decoded.
  std::string marks;
  size_t rb = path.find("/RB");
  if (rb != std::string::npos) {
    marks = path.substr(rb + 3);
    path.erase(rb);
  }
  std::string decoded;
  if (!path_decode(path, &decoded)) return false;
  size_t length = std::strlen(prefix);
  if (decoded.compare(0, length, prefix) != 0) return false;
  std::string rest = decoded.substr(length);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest == "/server") {
    request->kind = WEBAPI_FEED_SERVER;
  } else if (rest == "/renderer") {
    request->kind = WEBAPI_FEED_RENDERER;
  } else {
    request->kind = WEBAPI_FEED_ROOT;  // anything else is the root feed
    return true;
  }
  if (rb == std::string::npos) return true;
  request->has_device = true;
  size_t ib = marks.find("/IB");
  std::string device = marks.substr(0, ib);
  if (!path_decode(device, &request->device)) return false;
  if (ib != std::string::npos) {
    request->has_item = true;
    if (!path_decode(marks.substr(ib + 3), &request->item)) return false;
  }
  return true;
}

webapi_feed_page webapi_feed_paging(const webapi_call &call, uint32_t total) {
  int64_t start = std::max<int64_t>(number(call, "start", 0), 0);
  int64_t count = number(call, "count", 0);
  if (count <= 0) count = total;
  int64_t returned = std::min<int64_t>(std::min<int64_t>(count, total), WEBAPI_FEED_MAX_PAGE);
  if (start >= static_cast<int64_t>(total)) {
    returned = 0;
  } else if (start + returned > static_cast<int64_t>(total)) {
    returned = static_cast<int64_t>(total) - start;
  }
  webapi_feed_page page;
  page.start = static_cast<uint32_t>(std::min<int64_t>(start, total));
  page.returned = static_cast<uint32_t>(returned);
  return page;
}

std::string webapi_feed_escape(const std::string &text) {
  static const char kHex[] = "0123456789ABCDEF";
  // Written through a pointer into room for the longest form, then cut to
  // what was written (every entry of a feed page escapes its bookmark).
  std::string out(text.size() * 3, '\0');
  char *w = &out[0];
  for (unsigned char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '.' || c == '_' || c == '~';
    if (plain) {
      *w++ = static_cast<char>(c);
    } else {
      *w++ = '%';
      *w++ = kHex[c >> 4];
      *w++ = kHex[c & 15];
    }
  }
  out.resize(static_cast<size_t>(w - out.data()));
  return out;
}
