// The site-information file: which media type a web site delivers.
#include <strings.h>

#include <cstring>
#include <mutex>

#include "base/upnp_log.h"
#include "media/zel_file_write.h"
#include "media/zel_util.h"

namespace {

constexpr const char *kSiteInfoFile = "siteinfo.xml";

// Loaded once, from whichever thread asks first.
std::mutex g_load_lock;

// The text between the first ">" and the next "<" of a line ("" without).
std::string element_text(const std::string &line) {
  size_t open = line.find('>');
  if (open == std::string::npos) return std::string();
  size_t close = line.find('<', open + 1);
  if (close == std::string::npos) return std::string();
  return line.substr(open + 1, close - open - 1);
}

}  // namespace

void ZelUtil::ParseSiteInfo(const std::string &text, std::vector<ZELUTIL_SITE_INFO> *sites) {
  bool inSite = false;
  ZELUTIL_SITE_INFO site;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(pos, end - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > ZELUTIL_INFO_LINE_MAX) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "line longer than %d characters ends the file",
                    ZELUTIL_INFO_LINE_MAX);
      break;
    }
    if (line.find("<Site>") != std::string::npos) {
      site = ZELUTIL_SITE_INFO();
      inSite = true;
    } else if (!inSite) {
      continue;
    } else if (line.find("<URL>") != std::string::npos) {
      site.urlPrefix = element_text(line);
    } else if (line.find("<MediaType>") != std::string::npos) {
      std::string word = element_text(line);
      if (strcasecmp(word.c_str(), "Music") == 0) site.mediaType = MT_MUSIC;
      if (strcasecmp(word.c_str(), "Photo") == 0) site.mediaType = MT_PHOTO;
      if (strcasecmp(word.c_str(), "Video") == 0) site.mediaType = MT_VIDEO;
    } else if (line.find("</Site>") != std::string::npos) {
      if (!site.urlPrefix.empty()) sites->push_back(site);
      inSite = false;
    }
  }
}

void ZelUtil::LoadSiteInfoFile() {
  std::lock_guard<std::mutex> hold(g_load_lock);
  if (s_bSiteInfoLoaded) return;
  s_bSiteInfoLoaded = true;
  char path[4096];
  std::string text;
  if (!CreatePathToLocalFile(kSiteInfoFile, path, sizeof path) || !zel_read_file(path, &text)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "no site-information file %s", kSiteInfoFile);
    return;
  }
  try {
    ParseSiteInfo(text, &s_siteInfoList);
  } catch (const std::exception &) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "out of memory reading %s", path);
  }
}

MEDIA_ITEM_TYPE ZelUtil::GetMediaTypeForSite(const char *url) {
  LoadSiteInfoFile();
  if (!url) return MT_ANY;
  for (const ZELUTIL_SITE_INFO &site : s_siteInfoList) {
    if (std::strncmp(url, site.urlPrefix.c_str(), site.urlPrefix.size()) == 0) return site.mediaType;
  }
  return MT_ANY;
}
