// The ShoutCast connection: the ICY request, redirections (header, Location
// or a text playlist), the station's ICY state, and the split of a stream
// title into artist and title.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/http_io.h"
#include "http/http_mime.h"
#include "http/http_parse.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

constexpr const char *kIcyFields = "User-Agent: WinampMPEG/5.11\r\nIcy-MetaData:1\r\n";
// A playlist body is read up to this many bytes.
constexpr size_t kMaxPlaylist = 64 * 1024;
constexpr size_t kMetadataBuffer = 4097;

// Value of an ICY field up to CR LF, as a new text, or none.
char *icy_text(const char *header, const char *name) {
  const char *v = HTTP_find_nocase(header, name);
  if (!v) return nullptr;
  v += std::strlen(name);
  while (*v == ' ') ++v;
  size_t n = std::strcspn(v, "\r\n");
  auto *out = static_cast<char *>(upnp_malloc_impl(n + 1));
  if (!out) return nullptr;
  std::memcpy(out, v, n);
  out[n] = '\0';
  return out;
}

int64_t icy_number(const char *header, const char *name) {
  const char *v = HTTP_find_nocase(header, name);
  if (!v) return 0;
  long long n = std::strtoll(v + std::strlen(name), nullptr, 10);
  return n < 0 ? 0 : static_cast<int64_t>(n);
}

// The first "http://" in text up to a byte of value 0x20 or below.
std::string first_url(const char *text, size_t length) {
  std::string s(text, length);
  size_t at = s.find("http://");
  if (at == std::string::npos) return "";
  size_t end = at;
  while (end < s.size() && static_cast<unsigned char>(s[end]) > 0x20) ++end;
  return s.substr(at, end - at);
}

// Reads a playlist body (bounded); false when it is cut short of its length
// or its framing fails.
bool read_playlist(int sock, const char *header, std::string *body) {
  if (HTTP_parse_header_chunked(header)) {
    char *data = nullptr;
    uint64_t length = 0;
    http_chunked_result r = http_read_chunked_body(sock, kMaxPlaylist, &data, &length);
    if (r != HTTP_CHUNKED_OK) return false;
    body->assign(data, length);
    upnp_free_impl(data);
    return true;
  }
  int64_t announced = HTTP_parse_header_size(header);
  size_t want = announced > 0 && static_cast<uint64_t>(announced) < kMaxPlaylist ? static_cast<size_t>(announced)
                                                                                  : kMaxPlaylist;
  char piece[4096];
  while (body->size() < want) {
    size_t n = want - body->size();
    ssize_t got = upnp_recv(sock, piece, n < sizeof piece ? n : sizeof piece, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return announced <= 0 && got == 0;  // a body cut short of its length is a failure
    body->append(piece, static_cast<size_t>(got));
  }
  return true;
}

bool create_icy(StreamInfo *info, uint32_t generation, const char *header, const std::string &url) {
  auto *icy = static_cast<stream_icy *>(upnp_calloc_impl(1, sizeof(stream_icy)));
  if (!icy) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "upnp_renderer_get_shoutcast_stream", "OUT OF MEMORY creating Shoutcast struct");
    return false;
  }
  icy->metaint = icy_number(header, "icy-metaint:");
  if (icy->metaint > 0) {
    icy->metadata = static_cast<char *>(upnp_calloc_impl(1, kMetadataBuffer));
    if (!icy->metadata) {
      upnp_free_impl(icy);
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "upnp_renderer_get_shoutcast_stream",
                    "OUT OF MEMORY creating Shoutcast struct");
      return false;
    }
  }
  icy->name = icy_text(header, "icy-name:");
  icy->genre = icy_text(header, "icy-genre:");
  icy->url = icy_text(header, "icy-url:");
  icy->pub = static_cast<int32_t>(icy_number(header, "icy-pub:") != 0);
  int64_t br = icy_number(header, "icy-br:");
  icy->bitrate = br > INT32_MAX ? INT32_MAX : static_cast<int32_t>(br);
  icy->content_length = HTTP_parse_header_size(header);
  icy->chunked = HTTP_parse_header_chunked(header);

  char *type = HTTP_parse_header_mime_type(header);
  if (type && (std::strstr(type, "application/octet-stream") || std::strstr(type, "application/force-download"))) {
    const char *by_extension = HTTP_get_mime_type(nullptr, HTTP_get_extension(url.c_str()));
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "upnp_renderer_get_shoutcast_stream", "Replacing shoutcast mime-type %s with %s",
                  type, by_extension);
    upnp_free_impl(type);
    type = upnp_strdup_impl(by_extension);
  }
  EnterCriticalSection(&info->lock);
  bool current = info->receiver == generation;
  if (current) {
    stream_icy_free(info->icy);
    info->icy = icy;
    upnp_free_impl(info->content_type);
    info->content_type = type;
    info->features |= STREAM_FEATURE_LIVE;
    // The length of this answer, not of an earlier one (a HEAD's); with
    // metadata blocks it counts more than the audio, so it is left unknown.
    info->total_length = icy->metaint > 0 ? 0 : icy->content_length;
  }
  LeaveCriticalSection(&info->lock);
  if (!current) {
    stream_icy_free(icy);
    upnp_free_impl(type);
  }
  return current;
}

}  // namespace

void stream_icy_free(stream_icy *icy) {
  if (!icy) return;
  upnp_free_impl(icy->metadata);
  upnp_free_impl(icy->name);
  upnp_free_impl(icy->genre);
  upnp_free_impl(icy->url);
  upnp_free_impl(icy->title);
  upnp_free_impl(icy->stream_url);
  upnp_free_impl(icy);
}

int upnp_renderer_get_shoutcast_stream(StreamInfo *info, uint32_t generation, int *sock, char *header) {
  EnterCriticalSection(&info->lock);
  std::string url = info->url ? info->url : "";
  bool download = (info->features & STREAM_FEATURE_DOWNLOAD) != 0;
  LeaveCriticalSection(&info->lock);
  stream_close_socket(info, sock);
  for (int redirections = 0;; ++redirections) {
    if (url.compare(0, 7, "http://") != 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Shoutcast invocation failed");
      return 0;
    }
    *sock = stream_connect(url.c_str());
    if (*sock >= 0 && !stream_adopt_socket(info, generation, *sock)) {
      stream_close_socket(info, sock);
      return 0;
    }
    if (*sock < 0 || HTTP_get_request(*sock, url.c_str(), kIcyFields) != 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Shoutcast connection to %s failed", url.c_str());
      stream_close_socket(info, sock);
      return 0;
    }
    int length = HTTP_get_header(*sock, header, STREAM_HEADER_SIZE);
    if (length <= 0 || std::strstr(header, "ICY 404") || std::strstr(header, "ICY 400")) {
      stream_close_socket(info, sock);
      return 0;
    }
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Shoutcast response header:\n%s", header);
    int status = HTTP_parse_header_response(header);
    bool icy = std::strncmp(header, "ICY 200", 7) == 0;
    char *type = HTTP_parse_header_mime_type(header);
    bool text = type && std::strstr(type, "text/");
    upnp_free_impl(type);
    // In download mode only a real ShoutCast answer is taken as one.
    if (icy || (status == 200 && !text && !download)) {
      if (!create_icy(info, generation, header, url)) {
        stream_close_socket(info, sock);
        return 0;
      }
      char *final_url = upnp_strdup_impl(url.c_str());
      EnterCriticalSection(&info->lock);
      if (info->receiver == generation) {
        std::memcpy(info->header, header, static_cast<size_t>(length) + 1);
        if (final_url) {
          upnp_free_impl(info->url);
          info->url = final_url;  // the redirections' target
          final_url = nullptr;
        }
      }
      LeaveCriticalSection(&info->lock);
      upnp_free_impl(final_url);
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Valid Shoutcast response");
      return 1;
    }
    if (status != 200 && status != 301 && status != 302 && status != 307) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "No Shoutcast response from %s", url.c_str());
      stream_close_socket(info, sock);
      return 0;
    }
    if (redirections >= STREAM_MAX_REDIRECTS) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Giving up on Shoutcast - too many redirections");
      stream_close_socket(info, sock);
      return 0;
    }
    std::string next;
    const char *location = HTTP_find_nocase(header, "\r\nLocation:");
    if (location && status != 200) {
      location += 11;
      while (*location == ' ' || *location == '\t') ++location;
      std::string value(location, std::strcspn(location, "\r\n"));
      char *resolved = stream_resolve_location(url.c_str(), value.c_str());
      if (resolved) next = resolved;
      upnp_free_impl(resolved);
    }
    if (next.empty()) next = first_url(header, static_cast<size_t>(length));
    if (next.empty()) {
      std::string body;
      if (read_playlist(*sock, header, &body)) next = first_url(body.data(), body.size());
    }
    stream_close_socket(info, sock);
    if (next.empty()) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "No Shoutcast response from %s", url.c_str());
      return 0;
    }
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Following Shoutcast redirect to %s", next.c_str());
    url = next;
  }
}

int upnp_renderer_get_shoutcast_track_info(const char *stream_title, char **title, char **artist) {
  if (title) *title = nullptr;
  if (artist) *artist = nullptr;
  if (!stream_title || !title || !artist) return STREAM_MISSING_ARGUMENT;
  const char *dash = std::strstr(stream_title, " - ");
  if (!dash) {
    *title = upnp_strdup_impl(stream_title);
    return *title ? STREAM_OK : STREAM_FAILED;
  }
  *title = upnp_strdup_impl(dash + 3);
  size_t n = static_cast<size_t>(dash - stream_title);
  *artist = static_cast<char *>(upnp_malloc_impl(n + 1));
  if (!*title || !*artist) {
    upnp_free_impl(*title);
    upnp_free_impl(*artist);
    *title = *artist = nullptr;
    return STREAM_FAILED;
  }
  std::memcpy(*artist, stream_title, n);
  (*artist)[n] = '\0';
  return STREAM_OK;
}
