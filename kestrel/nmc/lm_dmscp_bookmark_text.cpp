// The text form of bookmarks: parts separated by commas, a comma or a
// backslash inside a part escaped by a backslash. Bookmarks written before
// backslashes were escaped (a backslash only ever before a comma) still
// read the same, as a backslash before any other character stays as it is.
#include "nmc/lm_dmscp_internal.h"

std::string nmc_bookmark_escape(const std::string &part) {
  // Most parts hold neither character: copied whole, not byte by byte.
  bool plain = true;
  for (char c : part) plain = plain && c != ',' && c != '\\';
  if (plain) return part;
  std::string out;
  out.reserve(part.size() + 4);
  for (char c : part) {
    if (c == ',' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::vector<std::string> nmc_bookmark_split(const std::string &text) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == ',' || text[i + 1] == '\\')) {
      parts.back() += text[++i];
    } else if (c == ',') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}
