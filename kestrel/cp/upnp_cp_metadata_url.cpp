// DIDL-Lite metadata for a bare URL queued on a renderer.
#include "cp/upnp_cp_metadata_url.h"

#include <ctype.h>
#include <string.h>

#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"

namespace {

struct UrlKind {
  const char *extension;
  const char *mime;
  const char *upnpClass;
};

const UrlKind kKinds[] = {
    {"mp3", "audio/mpeg", "object.item.audioItem.musicTrack"},
    {"m4a", "audio/mp4", "object.item.audioItem.musicTrack"},
    {"wma", "audio/x-ms-wma", "object.item.audioItem.musicTrack"},
    {"flac", "audio/x-flac", "object.item.audioItem.musicTrack"},
    {"wav", "audio/x-wav", "object.item.audioItem.musicTrack"},
    {"ogg", "application/ogg", "object.item.audioItem.musicTrack"},
    {"jpg", "image/jpeg", "object.item.imageItem.photo"},
    {"jpeg", "image/jpeg", "object.item.imageItem.photo"},
    {"png", "image/png", "object.item.imageItem.photo"},
    {"gif", "image/gif", "object.item.imageItem.photo"},
    {"bmp", "image/bmp", "object.item.imageItem.photo"},
    {"mp4", "video/mp4", "object.item.videoItem"},
    {"m4v", "video/mp4", "object.item.videoItem"},
    {"mpg", "video/mpeg", "object.item.videoItem"},
    {"mpeg", "video/mpeg", "object.item.videoItem"},
    {"avi", "video/x-msvideo", "object.item.videoItem"},
    {"mov", "video/quicktime", "object.item.videoItem"},
    {"wmv", "video/x-ms-wmv", "object.item.videoItem"},
};

// The extension of the URL's path (query and fragment cut), lowered.
std::string path_extension(const char *url) {
  std::string path(url);
  size_t end = path.find_first_of("?#");
  if (end != std::string::npos) path.resize(end);
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot + 1);
  for (char &c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return extension;
}

std::string escaped(const char *text) {
  char *escapedText = upnp_xml_escape_cond(text, 0);
  if (escapedText == nullptr) return std::string();
  std::string copy(escapedText);
  upnp_free_impl(escapedText);
  return copy;
}

}  // namespace

extern "C" char *upnp_cp_create_metadata_from_url(const char *url, const char *title) {
  if (url == nullptr || url[0] == '\0') return nullptr;
  try {
    const char *mime = "*";
    const char *upnpClass = "object.item";
    std::string extension = path_extension(url);
    for (const UrlKind &kind : kKinds) {
      if (extension != kind.extension) continue;
      mime = kind.mime;
      upnpClass = kind.upnpClass;
      break;
    }
    std::string text =
        "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
        "<item id=\"0\" parentID=\"-1\" restricted=\"1\"><dc:title>";
    text += escaped(title != nullptr ? title : "");
    text += "</dc:title><upnp:class>";
    text += upnpClass;
    text += "</upnp:class><res protocolInfo=\"http-get:*:";
    text += mime;
    text += ":*\">";
    text += escaped(url);
    text += "</res></item></DIDL-Lite>";
    return upnp_strdup_impl(text.c_str());
  } catch (...) {
    return nullptr;
  }
}
