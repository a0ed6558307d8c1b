// Requests of the stream receiver: range fields, the request fields of a
// HEAD or GET, redirect targets, and the header exchange with its redirects
// and interim answers.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_client.h"
#include "http/http_parse.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

char *copy_text(const std::string &text) { return upnp_strdup_impl(text.c_str()); }

bool contains(const char *text, const char *what) { return text && std::strstr(text, what) != nullptr; }

// Whether the peer closes (or should close) the connection after a HEAD.
bool close_after_head(const char *header) {
  if (std::strncmp(header, "ICY ", 4) == 0) return true;
  if (std::strstr(header, "User-Agent: UPnP/1.0 DLNADOC/1.00")) return true;
  const char *connection = HTTP_get_header_param(header, "\r\nConnection:");
  if (std::strncmp(header, "HTTP/1.1", 8) == 0) {
    if (connection && HTTP_find_nocase(connection, "close") == connection) return true;
  } else if (std::strncmp(header, "HTTP/1.0", 8) == 0) {
    if (!connection || HTTP_find_nocase(connection, "keep-") != connection) return true;
  }
  return upnp_ini_file_getBoolean(INI_NO_PERSIST_CONN) != 0;
}

// The text after "Location:" (blanks skipped, up to CR or LF), or "".
std::string location_of(const char *header) {
  const char *p = HTTP_find_nocase(header, "\r\nLocation:");
  if (!p) return "";
  p += 11;
  while (*p == ' ' || *p == '\t') ++p;
  return std::string(p, std::strcspn(p, "\r\n"));
}

}  // namespace

char *upnp_renderer_create_byte_range(int64_t offset) {
  char text[64];
  std::snprintf(text, sizeof text, "Range: bytes=%" PRId64 "-\r\n", offset < 0 ? 0 : offset);
  return upnp_strdup_impl(text);
}

char *upnp_renderer_create_time_range(uint64_t ms, int limited) {
  char text[128];
  std::snprintf(text, sizeof text, "%sTimeSeekRange.dlna.org: npt=%" PRIu64 ".%03" PRIu64 "-\r\n",
                limited == 1 ? "getAvailableSeekRange.dlna.org: 1\r\n" : "", ms / 1000, ms % 1000);
  return upnp_strdup_impl(text);
}

char *createHeaderExtraFields(StreamInfo *info, int head) {
  if (!info) return nullptr;
  std::string fields;
  EnterCriticalSection(&info->lock);
  const char *caller = info->caller_fields ? info->caller_fields : "";
  const char *type = info->content_type;
  fields = caller;
  if (!head && info->extra_fields && !contains(type, "application/force-download")) fields += info->extra_fields;
  const char *mode = nullptr;
  if (std::strstr(caller, "transferMode.dlna.org")) {
    mode = nullptr;
  } else if (info->features & STREAM_FEATURE_STREAMING_MODE) {
    mode = "Streaming";
  } else if (info->features & STREAM_FEATURE_DOWNLOAD) {
    uint32_t flags = head ? info->resource_flags : (info->resource_flags | info->response_flags);
    if (flags & DLNA_FLAG_BACKGROUND) {
      mode = "Background";
    } else if (flags & DLNA_FLAG_STREAMING) {
      mode = "Streaming";
    }
  } else if (!head) {
    if (contains(type, "image")) {
      mode = "Interactive";
    } else {
      mode = "Streaming";
      info->features |= STREAM_FEATURE_STREAMING_MODE;
    }
  }
  if (mode) fields += std::string("transferMode.dlna.org: ") + mode + "\r\n";
  if (head || !type) fields += "getcontentFeatures.dlna.org: 1\r\n";
  LeaveCriticalSection(&info->lock);
  if (fields.size() > STREAM_MAX_REQUEST_FIELDS) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Request fields too long (%zu characters)", fields.size());
    return nullptr;
  }
  return copy_text(fields);
}

char *stream_resolve_location(const char *base, const char *location) {
  if (!location || !*location) return nullptr;
  if (std::strncmp(location, "http://", 7) == 0 || std::strncmp(location, "https://", 8) == 0)
    return upnp_strdup_impl(location);
  std::string b = base ? base : "";
  size_t scheme = b.find("://");
  if (scheme == std::string::npos) return nullptr;
  if (location[0] == '/' && location[1] == '/') return copy_text(b.substr(0, scheme + 1) + location);
  size_t path = b.find('/', scheme + 3);
  std::string origin = path == std::string::npos ? b : b.substr(0, path);
  if (location[0] == '/') return copy_text(origin + location);
  // Relative to the directory of the current path (query left out).
  std::string dir = path == std::string::npos ? "/" : b.substr(path, b.find_first_of("?#", path) - path);
  dir = dir.substr(0, dir.rfind('/') + 1);
  return copy_text(origin + dir + location);
}

int get_http_header(StreamInfo *info, uint32_t generation, int *sock, int head, const char *fields,
                    char *header, int *status_out) {
  *status_out = 404;
  header[0] = '\0';
  for (int redirects = 0;; ++redirects) {
    EnterCriticalSection(&info->lock);
    std::string url = info->url ? info->url : "";
    LeaveCriticalSection(&info->lock);
    if (*sock < 0) {
      *sock = stream_connect(url.c_str());
      if (*sock < 0) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "get_http_header Failed to get data socket");
        return 0;
      }
      if (!stream_adopt_socket(info, generation, *sock)) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "get_http_header Stream aborted concurrently");
        return 0;
      }
    }
    int failed = head ? HTTP_head_request(*sock, url.c_str(), fields) : HTTP_get_request(*sock, url.c_str(), fields);
    if (failed && !head && stream_is_current(info, generation)) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "get_http_header GET failed - retrying");
      stream_close_socket(info, sock);
      *sock = stream_connect(url.c_str());
      if (*sock >= 0 && stream_adopt_socket(info, generation, *sock))
        failed = HTTP_get_request(*sock, url.c_str(), fields);
    }
    if (failed) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "get_http_header Failed to send request");
      return 0;
    }
    if (!stream_is_current(info, generation)) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "get_http_header Stream aborted concurrently");
      return 0;
    }
    int length = 0;
    int status = 404;
    for (;;) {
      length = HTTP_get_header(*sock, header, STREAM_HEADER_SIZE);
      if (length <= 0) break;
      status = HTTP_parse_header_response(header);
      if (status < 100 || status > 199) break;
    }
    if (!stream_is_current(info, generation)) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "get_http_header Stream aborted concurrently");
      return 0;
    }
    if (length <= 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "get_http_header Did not receive a valid header");
      *status_out = 404;
      return 0;
    }
    *status_out = status;
    // Only the current receiver writes the header field.
    EnterCriticalSection(&info->lock);
    bool current = info->receiver == generation;
    if (current) std::memcpy(info->header, header, static_cast<size_t>(length) + 1);
    LeaveCriticalSection(&info->lock);
    if (!current) return 0;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Header is:\n%s", header);

    if (!head && (status == 301 || status == 302)) {
      if (redirects >= STREAM_MAX_REDIRECTS) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "get_http_header Too many redirects");
        stream_close_socket(info, sock);
        return 0;
      }
      char *target = stream_resolve_location(url.c_str(), location_of(header).c_str());
      if (!target) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Failed to receive data: %d", status);
        stream_close_socket(info, sock);
        return 0;
      }
      EnterCriticalSection(&info->lock);
      upnp_free_impl(info->url);
      info->url = target;
      LeaveCriticalSection(&info->lock);
      stream_close_socket(info, sock);
      continue;
    }
    if (status != 200 && status != 206) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Failed to receive data: %d", status);
      stream_close_socket(info, sock);
      return 0;
    }
    if (head) {
      if (std::strncmp(header, "ICY ", 4) == 0) {
        EnterCriticalSection(&info->lock);
        info->features |= STREAM_FEATURE_LIVE;
        LeaveCriticalSection(&info->lock);
      }
      if (close_after_head(header)) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Closing connection after HEAD as requested");
        stream_close_socket(info, sock);
      }
    }
    return length;
  }
}
