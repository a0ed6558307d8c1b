// Text and JSON lines of the host.
#include "host_output.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace host {

namespace {

bool g_json = false;
// Under g_out_lock: the terminal mode changes it while firing threads may
// report.
std::vector<std::string> g_hidden;
const auto g_start = std::chrono::steady_clock::now();
// Events arrive on the main thread, stall reports on firing threads: one
// lock keeps each line whole.
std::mutex g_out_lock;

// Length of the valid UTF-8 sequence at s[i], or 0 when the byte there does
// not start one (overlong forms, surrogates and values above U+10FFFF are
// invalid).
size_t utf8_length(const std::string &s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

std::string json_string(const std::string &bytes) {
  std::string out = "\"";
  char buf[8];
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t n = utf8_length(bytes, i);
    if (n == 0) {
      std::snprintf(buf, sizeof buf, "\\udc%02x", c);
      out += buf;
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(bytes, i, n);
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  out += '"';
  return out;
}

std::string quoted(const std::string &bytes) {
  std::string out = "\"";
  char buf[8];
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t n = utf8_length(bytes, i);
    if (n > 1) {
      out.append(bytes, i, n);
      i += n;
      continue;
    }
    if (n == 0 || c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
  return out;
}

Record::Record(const char *kind) : kind_(kind) {}

Record &Record::str(const char *name, const std::string &value) {
  fields_.push_back(Field{name, json_string(value), quoted(value)});
  return *this;
}

Record &Record::num(const char *name, int64_t value) {
  std::string v = std::to_string(value);
  fields_.push_back(Field{name, v, v});
  return *this;
}

Record &Record::boolean(const char *name, bool value) {
  fields_.push_back(Field{name, value ? "true" : "false", value ? "yes" : "no"});
  return *this;
}

Record &Record::raw(const char *name, const std::string &json, const std::string &text) {
  fields_.push_back(Field{name, json, text});
  return *this;
}

std::string Record::to_json(double time) const {
  char t[32];
  std::snprintf(t, sizeof t, "%.6f", time);
  std::string out = std::string("{\"time\":") + t + ",\"kind\":" + json_string(kind_);
  for (const Field &f : fields_) out += "," + json_string(f.name) + ":" + f.json;
  return out + "}";
}

std::string Record::to_text() const {
  std::string out = kind_;
  for (const Field &f : fields_) out += " " + f.name + "=" + f.text;
  return out;
}

void set_json(bool on) { g_json = on; }
void set_hidden_kinds(const std::vector<std::string> &kinds) {
  std::lock_guard<std::mutex> guard(g_out_lock);
  g_hidden = kinds;
}
bool json_mode() { return g_json; }

double elapsed() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

void emit(const Record &record) {
  std::string line = g_json ? record.to_json(elapsed()) : record.to_text();
  std::lock_guard<std::mutex> guard(g_out_lock);
  if (!g_json)
    for (const std::string &k : g_hidden)
      if (k == record.kind()) return;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void say(const char *kind, const std::string &message) {
  if (g_json) {
    emit(Record(kind).str("message", message));
    return;
  }
  std::lock_guard<std::mutex> guard(g_out_lock);
  std::fprintf(stdout, "%s: %s\n", kind, message.c_str());
  std::fflush(stdout);
}

}  // namespace host
