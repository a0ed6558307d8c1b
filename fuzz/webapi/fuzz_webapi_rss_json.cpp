// Any text through rssToJSON (the JSON form of a feed): whatever the parser
// makes of it, the result, when there is one, must be well-formed JSON; a
// small validator here checks it and aborts otherwise.
#include <cstdint>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "webapi/webapi_feed.h"

namespace {

struct Reader {
  const char *p;
  const char *end;
  void space() {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
  }
  bool literal(const char *text) {
    space();
    for (const char *t = text; *t; ++t, ++p) {
      if (p >= end || *p != *t) return false;
    }
    return true;
  }
  bool string() {
    space();
    if (p >= end || *p != '"') return false;
    for (++p; p < end; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c == '"') {
        ++p;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++p >= end) return false;
        if (*p == 'u') {
          for (int i = 0; i < 4; ++i) {
            if (++p >= end || !std::isxdigit(static_cast<unsigned char>(*p))) return false;
          }
        } else if (!std::strchr("\"\\/bfnrt", *p)) {
          return false;
        }
      }
    }
    return false;
  }
  bool value(int depth) {
    if (depth > 200) return true;  // deep enough; the shape above was checked
    space();
    if (p >= end) return false;
    if (*p == '"') return string();
    bool object = *p == '{';
    if (!object && *p != '[') return false;
    const char close = object ? '}' : ']';
    ++p;
    space();
    if (p < end && *p == close) {
      ++p;
      return true;
    }
    for (;;) {
      if (object && (!string() || !literal(":"))) return false;
      if (!value(depth + 1)) return false;
      space();
      if (p < end && *p == ',') {
        ++p;
        continue;
      }
      return literal(std::string(1, close).c_str());
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (upnp_mem_init(), true);
  (void)ready;
  std::string feed(reinterpret_cast<const char *>(data), size);
  upnp_string *json = rssToJSON(feed.c_str());
  if (!json) return 0;
  Reader r{json->buffer, json->buffer + json->length};
  bool ok = r.value(0);
  r.space();
  if (!ok || r.p != r.end) std::abort();
  upnp_string_free(json);
  return 0;
}
