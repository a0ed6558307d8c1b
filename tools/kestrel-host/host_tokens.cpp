// The host's command-line splitter.
#include "host_tokens.h"

namespace host {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Replaces ${NAME} at line[i] (i at '$'); false with an error when the
// variable is unknown or the reference is not closed.
bool expand(const std::string &line, size_t &i, const VariableLookup &lookup, std::string &out, std::string &error) {
  size_t close = line.find('}', i + 2);
  if (close == std::string::npos) {
    error = "unclosed ${ in \"" + line.substr(i) + "\"";
    return false;
  }
  std::string name = line.substr(i + 2, close - i - 2);
  std::string value;
  if (!lookup || !lookup(name, value)) {
    error = "unknown variable ${" + name + "}";
    return false;
  }
  out += value;
  i = close + 1;
  return true;
}

}  // namespace

bool tokenize(const std::string &line, const VariableLookup &lookup, std::vector<Token> &tokens,
              std::string &error) {
  tokens.clear();
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= n) break;
    if (line[i] == '[' || line[i] == ']') {
      Token t;
      t.text = line[i];
      t.bracket = true;
      tokens.push_back(t);
      ++i;
      continue;
    }
    Token t;
    while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '[' && line[i] != ']') {
      char c = line[i];
      if (c == '\'') {
        size_t close = line.find('\'', i + 1);
        if (close == std::string::npos) {
          error = "unclosed ' quote";
          return false;
        }
        t.text += line.substr(i + 1, close - i - 1);
        t.quoted = true;
        i = close + 1;
      } else if (c == '"') {
        t.quoted = true;
        ++i;
        bool closed = false;
        while (i < n) {
          char d = line[i];
          if (d == '"') {
            closed = true;
            ++i;
            break;
          }
          if (d == '$' && i + 1 < n && line[i + 1] == '{') {
            if (!expand(line, i, lookup, t.text, error)) return false;
            continue;
          }
          if (d != '\\') {
            t.text += d;
            ++i;
            continue;
          }
          if (i + 1 >= n) break;
          char e = line[i + 1];
          i += 2;
          switch (e) {
            case '"': t.text += '"'; break;
            case '\\': t.text += '\\'; break;
            case 'n': t.text += '\n'; break;
            case 't': t.text += '\t'; break;
            case 'r': t.text += '\r'; break;
            case '$': t.text += '$'; break;
            case 'x': {
              int hi = i < n ? hex_digit(line[i]) : -1;
              int lo = i + 1 < n ? hex_digit(line[i + 1]) : -1;
              if (hi < 0 || lo < 0) {
                error = "\\x needs two hex digits";
                return false;
              }
              if (hi == 0 && lo == 0) {
                error = "\\x00: a string cannot hold a NUL byte";
                return false;
              }
              t.text += static_cast<char>(hi * 16 + lo);
              i += 2;
              break;
            }
            default:
              error = std::string("unknown escape \\") + e;
              return false;
          }
        }
        if (!closed) {
          error = "unclosed \" quote";
          return false;
        }
      } else if (c == '$' && i + 1 < n && line[i + 1] == '{') {
        if (!expand(line, i, lookup, t.text, error)) return false;
        t.quoted = true;  // a value is data, never a keyword
      } else {
        t.text += c;
        ++i;
      }
    }
    tokens.push_back(t);
  }
  return true;
}

}  // namespace host
