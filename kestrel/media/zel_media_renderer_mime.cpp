// The MIME type a URL's extension suggests, and whether a renderer can play
// an item of it.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "media/zel_media_renderer.h"
#include "nmc/lm_dmrcp.h"

namespace {

struct MimeRow {
  const char *prefix;
  const char *mime;
};

// Compared in this order by prefix of the extension.
const MimeRow kMimeRows[] = {
    {"mp3", "audio/mpeg"},       {"jpg", "image/jpeg"},      {"jpeg", "image/jpeg"},
    {"jpe", "image/jpeg"},       {"mpg", "video/mpeg"},      {"mpeg", "video/mpeg"},
    {"m1v", "video/mpeg"},       {"wma", "audio/x-ms-wma"},  {"gif", "image/gif"},
    {"png", "image/png"},        {"tif", "image/tiff"},      {"tiff", "image/tiff"},
    {"avi", "video/x-msvideo"},  {"mp4", "video/mp4"},       {"m4v", "video/mp4"},
    {"mov", "video/quicktime"},  {"wmv", "video/x-ms-wmv"},  {"m4a", "audio/mp4"},
    {"bmp", "image/bmp"},        {"flac", "audio/x-flac"},   {"wav", "audio/x-wav"},
    {"flv", "video/flv"},        {"f4v", "video/flv"},       {"swf", "application/x-shockwave-flash"},
    {"asf", "video/x-ms-asf"},   {"ogg", "application/ogg"}, {"3gp", "video/3gpp"},
};

const char *mime_of(const char *url) {
  if (url == nullptr) return nullptr;
  const char *dot = strrchr(url, '.');
  if (dot == nullptr) return nullptr;
  std::string extension(dot + 1);
  for (char &c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const MimeRow &row : kMimeRows) {
    // At the mp4 row a YouTube address is video/mp4 whatever its extension.
    if (strcmp(row.prefix, "mp4") == 0 && strstr(url, "youtube.com") != nullptr) return "video/mp4";
    if (extension.compare(0, strlen(row.prefix), row.prefix) == 0) return row.mime;
  }
  return nullptr;
}

}  // namespace

bool ZelMediaRenderer2::GetMimeForURL(const char *url, char *out, size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  const char *mime = mime_of(url);
  if (mime == nullptr) return false;
  if (out != nullptr && size > 0) snprintf(out, size, "%s", mime);
  return true;
}

bool ZelMediaRenderer2::CanPlayItem(ZelMediaItem2 *item) {
  if (item == nullptr) return false;
  auto *urlItem = dynamic_cast<ZelUrlMediaItem2 *>(item);
  if (urlItem == nullptr) return true;
  char mime[40];
  if (!GetMimeForURL(urlItem->GetPlayableUrl(), mime, sizeof mime)) return true;
  char command[80];
  snprintf(command, sizeof command, "%s %s", "DMRCanPlay", mime);
  return lm_dmrcp_ioctl(m_context, command, 0, nullptr) == LM_NMC_OK;
}
