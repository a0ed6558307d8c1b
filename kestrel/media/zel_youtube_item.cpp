// ZelYouTubeUrlMediaItem2: the video title and the one resolution of the
// link into a stream URL through the video site's endpoints.
#include "media/zel_youtube_item.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "media/zel_platform.h"
#include "media/zel_site_config.h"
#include "media/zel_url_codec.h"
#include "media/zel_util.h"

namespace {

constexpr size_t kIdSize = 100;  // at most 99 characters of id
constexpr int kAnswerSize = 8192;

// Set once by the control point singleton, read by items on any thread.
std::atomic<ZelBeamServerLookup> g_beam_lookup{nullptr};

std::string info_url(const char *id) {
  char encoded[3 * kIdSize + 1];
  url_encode(id, encoded, sizeof encoded);
  return "http://" + std::string(zel_site_get(ZEL_SITE_VIDEO_INFO_HOST)) + "/get_video_info?video_id=" + encoded;
}

// The URL-decoded value of the first "&"-separated field that begins with
// "title=" ("" without one).
std::string title_of(const char *answer) {
  const char *field = answer;
  while (field && *field) {
    const char *end = std::strchr(field, '&');
    size_t len = end ? static_cast<size_t>(end - field) : std::strlen(field);
    if (len >= 6 && std::strncmp(field, "title=", 6) == 0) {
      std::string raw(field + 6, len - 6);
      std::string decoded(raw.size() + 1, '\0');
      url_decode(raw.c_str(), &decoded[0], decoded.size());
      decoded.resize(std::strlen(decoded.c_str()));
      return decoded;
    }
    field = end ? end + 1 : nullptr;
  }
  return std::string();
}

void copy_out(const std::string &text, char *out, size_t size) {
  if (!out || size == 0) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

void ZelMediaSetBeamServerLookup(ZelBeamServerLookup lookup) { g_beam_lookup.store(lookup); }

bool ZelMediaHasLocalBeamServer(void) {
  ZelBeamServerLookup lookup = g_beam_lookup.load();
  return lookup != nullptr && lookup();
}

ZelYouTubeUrlMediaItem2::ZelYouTubeUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin,
                                                 const char *url)
    : ZelUrlMediaItem2(name, type, origin, url) {}

ZelYouTubeUrlMediaItem2::~ZelYouTubeUrlMediaItem2() { upnp_free_impl(m_videoTitle); }

ZelYouTubeUrlMediaItem2 *ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2(const char *name,
                                                                                  MEDIA_ITEM_TYPE type,
                                                                                  MEDIA_ITEM_ORIGIN origin,
                                                                                  const char *url) {
  return new (std::nothrow) ZelYouTubeUrlMediaItem2(name, type, origin, url);
}

ZelMediaItem2 *ZelYouTubeUrlMediaItem2::Clone() {
  ZelYouTubeUrlMediaItem2 *copy = AllocateZelYouTubeUrlMediaItem2(OwnName(), GetType(), GetOrigin(), GetUrl());
  if (!copy) return nullptr;
  copy->Copy(this);
  copy->m_infoFetched = m_infoFetched;
  upnp_strdup_replace(&copy->m_videoTitle, m_videoTitle);
  copy->m_streamAttempted = m_streamAttempted;
  return copy;
}

void ZelYouTubeUrlMediaItem2::Copy(ZelMediaItem2 *other) { ZelUrlMediaItem2::Copy(other); }

const char *ZelYouTubeUrlMediaItem2::GetName() {
  if (m_infoFetched && m_videoTitle && m_videoTitle[0]) return m_videoTitle;
  return ZelMediaItem2::GetName();
}

bool ZelYouTubeUrlMediaItem2::GetYouTubeVideoId(char *out, size_t size) const {
  return VideoIdOfUrl(GetUrl(), out, size);
}

bool ZelYouTubeUrlMediaItem2::GetVideoInfo() {
  if (m_infoFetched) return m_videoTitle && m_videoTitle[0];
  m_infoFetched = true;
  if (m_videoTitle && m_videoTitle[0]) return true;
  char id[kIdSize];
  if (!GetYouTubeVideoId(id, sizeof id) || !id[0]) return false;
  char answer[kAnswerSize];
  ZelUtil::HttpGet(info_url(id).c_str(), answer, sizeof answer);
  std::string title = title_of(answer);
  if (title.empty()) {
    // The data feed's "<media:title ...>title</media:title>".
    char encoded[3 * kIdSize + 1];
    url_encode(id, encoded, sizeof encoded);
    std::string feed = "http://" + std::string(zel_site_get(ZEL_SITE_VIDEO_DATA_HOST)) + "/feeds/api/videos/" +
                       encoded + "?v=2";
    ZelUtil::HttpGet(feed.c_str(), answer, sizeof answer);
    const char *tag = std::strstr(answer, "<media:title");
    const char *open = tag ? std::strchr(tag, '>') : nullptr;
    const char *close = open ? std::strchr(open + 1, '<') : nullptr;
    if (close) {
      title.assign(open + 1, static_cast<size_t>(close - open - 1));
      upnp_xml_unescape(&title[0]);
      title.resize(std::strlen(title.c_str()));
    }
  }
  if (title.empty()) return false;
  upnp_strdup_replace(&m_videoTitle, title.c_str());
  return m_videoTitle != nullptr;
}

const char *ZelYouTubeUrlMediaItem2::GetPlayableUrl() {
  // A local beam server resolves the link itself.
  if (ZelMediaHasLocalBeamServer()) return ZelUrlMediaItem2::GetPlayableUrl();
  if (StoredPlayableUrl() || m_streamAttempted) return StoredPlayableUrl();
  m_streamAttempted = true;
  char id[kIdSize];
  if (!GetYouTubeVideoId(id, sizeof id) || !id[0]) return nullptr;
  char stream[1024];
  char title[1024];
  if (GetStreamableUrlFromYouTubeVideoID(id, stream, sizeof stream, title, sizeof title)) {
    if (title[0]) {
      upnp_strdup_replace(&m_videoTitle, title);
      m_infoFetched = true;
    }
    SetPlayableUrl(stream);
  }
  return StoredPlayableUrl();
}

bool ZelYouTubeUrlMediaItem2::GetStreamableUrlFromYouTubeVideoID(const char *id, char *url, size_t urlSize,
                                                                 char *title, size_t titleSize) {
  return ResolveVideoWithin(id, url, urlSize, title, titleSize, ZEL_VIDEO_RESOLVE_DEADLINE_MS);
}

bool ZelYouTubeUrlMediaItem2::ResolveVideoWithin(const char *id, char *url, size_t urlSize, char *title,
                                                 size_t titleSize, unsigned int deadlineMs) {
  if (url && urlSize) url[0] = '\0';
  if (title && titleSize) title[0] = '\0';
  if (!id || !id[0] || !url || urlSize == 0) return false;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
  auto remaining_ms = [&deadline]() -> unsigned int {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > MU_HTTP_DEADLINE_MS ? MU_HTTP_DEADLINE_MS : static_cast<unsigned int>(left);
  };

  char *answer = MUHttpGet(info_url(id).c_str(), remaining_ms());
  if (!answer) return false;
  std::string info = answer;
  upnp_free_impl(answer);

  char encoded_id[3 * kIdSize + 1];
  url_encode(id, encoded_id, sizeof encoded_id);
  std::string host = zel_site_get(ZEL_SITE_VIDEO_INFO_HOST);
  bool found = false;
  size_t pos = 0;
  while (pos <= info.size()) {
    size_t end = info.find('&', pos);
    std::string field = info.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? info.size() + 1 : end + 1;
    if (field.compare(0, 6, "title=") == 0) {
      copy_out(title_of(field.c_str()), title, titleSize);
    } else if (!found && field.compare(0, 6, "token=") == 0) {
      std::string token(field.size(), '\0');
      url_decode(field.c_str() + 6, &token[0], token.size());
      token.resize(std::strlen(token.c_str()));
      std::string encoded_token(token.size() * 3 + 1, '\0');
      url_encode(token.c_str(), &encoded_token[0], encoded_token.size());
      encoded_token.resize(std::strlen(encoded_token.c_str()));
      for (int format : ZEL_VIDEO_FORMATS) {
        unsigned int left = remaining_ms();
        if (left == 0) {
          upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "video %s: no time left for format %d", id, format);
          break;
        }
        std::string request = "http://" + host + "/get_video?video_id=" + encoded_id + "&t=" + encoded_token +
                              "&fmt=" + std::to_string(format);
        char *header = MUHttpGetHeader(request.c_str(), left);
        const char *marker = header ? std::strstr(header, "Location = \"") : nullptr;
        if (marker) {
          const char *start = marker + std::strlen("Location = \"");
          const char *quote = std::strchr(start, '"');
          if (quote) {
            copy_out(std::string(start, static_cast<size_t>(quote - start)), url, urlSize);
            found = url[0] != '\0';
          }
        }
        upnp_free_impl(header);
        if (found) break;
      }
    }
  }
  return found;
}
