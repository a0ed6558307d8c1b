// Fuzzes the upnp_string codecs: base64, URL escapes, UTF-8 <-> UTF-16.
// The first byte picks the codec, the rest is the input. Round trips must
// give back their input, decoders must survive anything, and every run must
// leave the accounted memory where it found it.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_string.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string take(upnp_string *s) {
  check(s != nullptr);
  check(s->length < s->capacity && s->buffer[s->length] == '\0');
  std::string out(s->buffer, s->length);
  upnp_string_free(s);
  return out;
}

// U+FEFF and U+FFFE at the start read as byte order marks on the way back.
bool starts_with_bom(const std::string &utf8) {
  return utf8.compare(0, 3, "\xef\xbb\xbf") == 0 || utf8.compare(0, 3, "\xef\xbf\xbe") == 0;
}

void base64(const std::string &in) {
  std::string coded = take(upnp_string_to_base64(in.data(), in.size()));
  check(coded.size() % 4 == 0);
  check(take(upnp_string_from_base64(coded.data(), coded.size())) == in);
  if (upnp_string *decoded = upnp_string_from_base64(in.data(), in.size())) {
    std::string plain = take(decoded);
    std::string again = take(upnp_string_to_base64(plain.data(), plain.size()));
    check(take(upnp_string_from_base64(again.data(), again.size())) == plain);
  }
}

void url(const std::string &in) {
  std::string coded = take(upnp_string_to_encoded_url(in.data(), in.size()));
  for (char c : coded) check(c == '%' || c == '-' || c == '.' || c == '_' || c == '~' || std::isalnum(static_cast<unsigned char>(c)));
  check(take(upnp_string_from_encoded_url(coded.data(), coded.size())) == in);
  std::string decoded = take(upnp_string_from_encoded_url(in.data(), in.size()));
  check(decoded.size() <= in.size());
}

// A valid UTF-8 text without a leading byte order mark survives the trip.
void utf8_round_trip(const std::string &valid) {
  if (starts_with_bom(valid)) return;
  std::string wide = take(upnp_string_utf8_to_utf16(valid.data(), valid.size()));
  check(take(upnp_string_utf16_to_utf8(wide.data(), wide.size())) == valid);
}

void utf8(const std::string &in) {
  upnp_string *wide = upnp_string_utf8_to_utf16(in.data(), in.size());
  check(wide != nullptr && wide->length % 2 == 0 && wide->buffer[wide->length + 1] == '\0');
  std::string units = take(wide);
  // Whatever came in, what comes back is valid UTF-8.
  utf8_round_trip(take(upnp_string_utf16_to_utf8(units.data(), units.size())));
}

void utf16(const std::string &in) { utf8_round_trip(take(upnp_string_utf16_to_utf8(in.data(), in.size()))); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  int64_t before = upnp_mem_used();
  std::string in(reinterpret_cast<const char *>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: base64(in); break;
    case 1: url(in); break;
    case 2: utf8(in); break;
    default: utf16(in); break;
  }
  check(upnp_mem_used() == before);
  return 0;
}
