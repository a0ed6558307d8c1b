// Formats of items and of renderers' sink lists, in words.
#include "host_format.h"

#include <cctype>

namespace host {

namespace {

std::string lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trimmed(const std::string &s) {
  size_t from = s.find_first_not_of(" \t\r\n");
  if (from == std::string::npos) return std::string();
  return s.substr(from, s.find_last_not_of(" \t\r\n") - from + 1);
}

// Field n (0-based) of a protocolInfo "protocol:network:MIME:extra".
std::string field(const std::string &info, int n) {
  size_t at = 0;
  for (int k = 0; k < n; ++k) {
    at = info.find(':', at);
    if (at == std::string::npos) return std::string();
    ++at;
  }
  size_t end = info.find(':', at);
  return trimmed(info.substr(at, end == std::string::npos ? std::string::npos : end - at));
}

const struct {
  const char *extension;
  const char *mime;
} kExtensions[] = {
    {"mp3", "audio/mpeg"},  {"flac", "audio/x-flac"}, {"ogg", "application/ogg"},   {"oga", "audio/ogg"},
    {"wav", "audio/x-wav"}, {"m4a", "audio/mp4"},     {"aac", "audio/aac"},         {"wma", "audio/x-ms-wma"},
    {"mp4", "video/mp4"},   {"m4v", "video/mp4"},     {"mkv", "video/x-matroska"},  {"avi", "video/x-msvideo"},
    {"mov", "video/quicktime"}, {"wmv", "video/x-ms-wmv"}, {"mpg", "video/mpeg"},   {"mpeg", "video/mpeg"},
    {"flv", "video/flv"},   {"3gp", "video/3gpp"},    {"webm", "video/webm"},       {"swf", "application/x-shockwave-flash"},
    {"jpg", "image/jpeg"},  {"jpeg", "image/jpeg"},   {"png", "image/png"},         {"gif", "image/gif"},
    {"bmp", "image/bmp"},   {"tif", "image/tiff"},    {"tiff", "image/tiff"},       {"txt", "text/plain"},
    {"pdf", "application/pdf"},
};

}  // namespace

std::string item_mime(const std::string &url, const std::string &protocol_info) {
  std::string mime = lower(field(protocol_info, 2));
  if (!mime.empty() && mime != "*") return mime;
  std::string path = url.substr(0, url.find_first_of("?#"));
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  std::string extension = lower(path.substr(dot + 1));
  for (const auto &row : kExtensions)
    if (extension == row.extension) return row.mime;
  return std::string();
}

std::vector<std::string> sink_formats(const std::string &sink) {
  std::vector<std::string> formats;
  size_t at = 0;
  while (at <= sink.size()) {
    size_t end = sink.find(',', at);
    if (end == std::string::npos) end = sink.size();
    std::string mime = lower(field(sink.substr(at, end - at), 2));
    bool known = mime.empty();
    for (const std::string &f : formats) known = known || f == mime;
    if (!known) formats.push_back(mime);
    at = end + 1;
  }
  return formats;
}

bool sink_takes(const std::string &sink, const std::string &mime) {
  const std::string wanted = lower(mime);
  const std::string major = wanted.substr(0, wanted.find('/'));
  for (const std::string &f : sink_formats(sink)) {
    if (f == "*" || f == wanted || f == major + "/*") return true;
  }
  return false;
}

std::string formats_taken_words(const std::string &sink, const std::string &mime, size_t shown) {
  std::vector<std::string> all = sink_formats(sink);
  if (all.empty()) return "it names no formats it takes";
  const std::string major = lower(mime).substr(0, mime.find('/'));
  std::vector<std::string> same;
  for (const std::string &f : all)
    if (!major.empty() && f.compare(0, major.size() + 1, major + "/") == 0) same.push_back(f);
  const std::vector<std::string> &listed = same.empty() ? all : same;
  std::string words = same.empty() ? "it takes: " : "it takes these " + major + " formats: ";
  for (size_t k = 0; k < listed.size() && k < shown; ++k) words += (k ? ", " : "") + listed[k];
  if (listed.size() > shown) words += ", ...";
  return words + " (" + std::to_string(all.size()) + (all.size() == 1 ? " format" : " formats") + " in all)";
}

}  // namespace host
