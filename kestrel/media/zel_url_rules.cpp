// The URL rules of URL items: the cut to a file extension, the thumbnail-to-
// picture translation, and the recognition of video links and streams.
#include <cctype>
#include <cstring>
#include <string>

#include "media/zel_media_item.h"
#include "media/zel_site_config.h"
#include "media/zel_youtube_item.h"

namespace {

bool copy_out(const std::string &text, char *out, size_t size) {
  if (!out || size == 0) return false;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return true;
}

bool contains(const std::string &text, const char *part) {
  return part && part[0] && text.find(part) != std::string::npos;
}

// Position after "scheme://host" (0 when the text has no scheme).
size_t path_start(const std::string &url) {
  size_t scheme = url.find("://");
  if (scheme == std::string::npos) return 0;
  size_t slash = url.find('/', scheme + 3);
  return slash == std::string::npos ? url.size() : slash;
}

}  // namespace

bool ZelUrlMediaItem2::TruncateURL(const char *url, char *out, size_t size, bool cutQuery) {
  if (out && size) out[0] = '\0';
  if (!url || !out || size == 0) return false;
  if (ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(url)) return copy_out(url, out, size);
  std::string text = url;
  size_t query = text.find('?');
  if (cutQuery && query != std::string::npos) text.resize(query);
  // The extension is looked for after the host: a path without one keeps the
  // URL whole instead of cutting it inside the host name.
  size_t dot = text.rfind('.');
  if (dot != std::string::npos && dot >= path_start(text)) {
    size_t end = dot + 1;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
    text.resize(end);
  }
  return copy_out(text, out, size);
}

bool ZelUrlMediaItem2::TranslateURL(const char *url, char *out, size_t size) {
  if (out && size) out[0] = '\0';
  if (!url || !out || size == 0) return false;
  std::string text = url;
  std::string image_search = std::string(zel_site_get(ZEL_SITE_IMAGE_SEARCH));
  if (!image_search.empty() && contains(text, (image_search + "/images").c_str())) {
    size_t second = text.find("http://", 1);
    if (second != std::string::npos) text.erase(0, second);
  }
  std::string photo_site = zel_site_get(ZEL_SITE_PHOTO_SITE);
  std::string social = zel_site_get(ZEL_SITE_SOCIAL);
  std::string social_cdn = zel_site_get(ZEL_SITE_SOCIAL_CDN);
  bool on_social = contains(text, social.c_str()) || contains(text, social_cdn.c_str());
  if (contains(text, photo_site.c_str())) {
    size_t dot = text.rfind('.');
    if (dot != std::string::npos && dot >= 2 && text[dot - 2] == '_' && std::strchr("stmlb", text[dot - 1]) &&
        text[dot - 1] != '\0') {
      text.erase(dot - 2, 2);
    }
  } else if (!on_social) {
    static const char *const kThumbnailPaths[] = {"albumart/O0$", "cgi-bin/W160/H120/Xjpeg-scale.desc/O0$"};
    for (const char *path : kThumbnailPaths) {
      size_t at = text.find(path);
      if (at == std::string::npos) continue;
      size_t lead = std::strlen(path) - std::strlen("/O0$");
      text.replace(at, lead, "disk/photo");
      break;
    }
  }
  if (on_social) {
    size_t dot = text.rfind('.');
    if (dot != std::string::npos && dot >= 2 && text[dot - 2] == '_' && (text[dot - 1] == 's' || text[dot - 1] == 't')) {
      text[dot - 1] = 'n';
    }
  }
  return copy_out(text, out, size);
}

bool ZelYouTubeUrlMediaItem2::GetWebAddress(char *out, size_t size) {
  std::string host = zel_site_get(ZEL_SITE_VIDEO_WEB_HOST);
  if (host.empty()) {
    if (out && size) out[0] = '\0';
    return false;
  }
  return copy_out("http://" + host, out, size);
}

bool ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(const char *url) {
  char prefix[512];
  if (!url || !GetWebAddress(prefix, sizeof prefix)) return false;
  size_t n = std::strlen(prefix);
  if (std::strncmp(url, prefix, n) != 0) return false;
  const char *rest = url + n;
  if (std::strncmp(rest, "/watch", 6) == 0 || std::strncmp(rest, "/v/", 3) == 0) return true;
  return std::strncmp(rest, "/view_play_list", 15) == 0 && std::strstr(rest, "&v=") != nullptr;
}

bool ZelYouTubeUrlMediaItem2::IsYouTubePlayableURL(const char *url) {
  std::string domain = zel_site_get(ZEL_SITE_VIDEO_DOMAIN);
  if (!url || domain.empty()) return false;
  return std::strstr(url, (domain + "/videoplayback").c_str()) != nullptr;
}

bool ZelYouTubeUrlMediaItem2::VideoIdOfUrl(const char *url, char *out, size_t size) {
  if (out && size) out[0] = '\0';
  char prefix[512];
  if (!url || !out || size == 0 || !GetWebAddress(prefix, sizeof prefix)) return false;
  std::string text = url;
  std::string base = prefix;
  std::string watch = base + "/watch";
  std::string id;
  if (text.compare(0, watch.size() + 7, watch + "_videos") == 0) {
    size_t at = text.find("video_ids=", watch.size());
    if (at == std::string::npos) return false;
    id = text.substr(at + 10);
    size_t comma = id.find("%2C");
    if (comma != std::string::npos) id.resize(comma);
  } else if (text.compare(0, watch.size(), watch) == 0) {
    size_t at = text.find("v=", watch.size());
    if (at == std::string::npos) return false;
    id = text.substr(at + 2);
  } else if (text.compare(0, base.size() + 3, base + "/v/") == 0) {
    id = text.substr(base.size() + 3);
  } else if (text.compare(0, base.size() + 15, base + "/view_play_list") == 0) {
    size_t at = text.find("&v=", base.size());
    if (at == std::string::npos) return false;
    id = text.substr(at + 3);
  } else {
    return false;
  }
  size_t amp = id.find('&');
  if (amp != std::string::npos) id.resize(amp);
  return copy_out(id, out, size);
}
