// What a response tells about a stream: content type, seek and pause
// abilities from the DLNA fields, and length, offset, start time and duration.
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_parse.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

// Milliseconds of an NPT time ("ss.fff" or "h:mm:ss.fff"); *end after it.
// -1 when no digit is there.
int64_t parse_npt(const char *p, const char **end) {
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') {
    *end = p;
    return -1;
  }
  double seconds = 0;
  for (int part = 0; part < 3; ++part) {
    char *stop = nullptr;
    double v = std::strtod(p, &stop);
    if (stop == p) break;
    seconds = seconds * 60 + v;
    p = stop;
    if (*p != ':') break;
    ++p;
  }
  *end = p;
  if (seconds < 0 || seconds > 9.2e15) return -1;
  return static_cast<int64_t>(seconds * 1000 + 0.5);
}

int64_t parse_number(const char *p, const char **end) {
  char *stop = nullptr;
  long long v = std::strtoll(p, &stop, 10);
  *end = stop;
  return stop == p ? -1 : static_cast<int64_t>(v);
}

// The first 8 hex digits after "DLNA.ORG_FLAGS=" (the primary flags).
bool dlna_flags(const char *text, uint32_t *flags) {
  const char *p = text ? std::strstr(text, "DLNA.ORG_FLAGS=") : nullptr;
  if (!p) return false;
  p += 15;
  uint32_t v = 0;
  int digits = 0;
  for (; digits < 8; ++digits, ++p) {
    char c = *p;
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d < 0) break;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  if (digits == 0) return false;
  *flags = v;
  return true;
}

// The line of a header field (from its value up to CR), as a copy.
char *field_line(const char *header, const char *name) {
  const char *v = HTTP_find_nocase(header, name);
  if (!v) return nullptr;
  size_t n = std::strcspn(v, "\r\n");
  auto *out = static_cast<char *>(upnp_malloc_impl(n + 1));
  if (!out) return nullptr;
  std::memcpy(out, v, n);
  out[n] = '\0';
  return out;
}

// What one response header tells, before it is applied to a record.
struct learned {
  uint64_t add_features = 0;
  int64_t time_position = -1, byte_offset = -1, total = -1, duration = -1, content_length = 0;
  bool has_flags = false;
  uint32_t flags = 0;
  bool op_one = false, op = false;
};

uint64_t features_of(const char *header) {
  uint64_t add = 0;
  if (std::strstr(header, "\r\nAccept-Ranges: bytes\r\n")) add |= STREAM_FEATURE_BYTE_SEEK;
  const char *op = std::strstr(header, "DLNA.ORG_OP=");
  if (op && op[12] && op[13]) {
    if (op[12] != '0') add |= STREAM_FEATURE_TIME_SEEK;
    if (op[13] != '0') add |= STREAM_FEATURE_BYTE_SEEK;
  }
  if (std::strstr(header, "DLNA.ORG_CI=1")) add |= STREAM_FEATURE_CONVERTED;
  uint32_t flags = 0;
  bool has_flags = dlna_flags(header, &flags);
  if (!(std::strstr(header, "7.4.58.2") && !(has_flags && (flags & DLNA_FLAG_CONNECTION_STALL))))
    add |= STREAM_FEATURE_STALL;
  return add;
}

void parse_length_and_offset(const char *header, learned *l) {
  const char *seek = HTTP_find_nocase(header, "TimeSeekRange.dlna.org:");
  const char *range = HTTP_find_nocase(header, "\r\nContent-Range:");
  const char *end = nullptr;
  if (seek) {
    const char *line_end = seek + std::strcspn(seek, "\r\n");
    const char *npt = std::strstr(seek, "npt");
    if (npt && npt < line_end) {
      const char *p = npt + 3;
      while (*p == ' ' || *p == '=') ++p;
      l->time_position = parse_npt(p, &end);
      const char *slash = std::strchr(p, '/');
      if (slash && slash < line_end) l->duration = parse_npt(slash + 1, &end);
    }
    const char *bytes = std::strstr(seek, "bytes");
    if (bytes && bytes < line_end) {
      const char *p = bytes + 5;
      while (*p == ' ' || *p == '=') ++p;
      l->byte_offset = parse_number(p, &end);
      const char *slash = std::strchr(p, '/');
      if (slash && slash < line_end) l->total = parse_number(slash + 1, &end);
    }
  } else if (range) {
    const char *line_end = range + std::strcspn(range + 2, "\r\n") + 2;
    const char *bytes = std::strstr(range, "bytes");
    if (bytes && bytes < line_end) {
      const char *p = bytes + 5;
      while (*p == ' ' || *p == '=') ++p;
      l->byte_offset = parse_number(p, &end);
      const char *slash = std::strchr(p, '/');
      if (slash && slash < line_end) l->total = parse_number(slash + 1, &end);
    }
  }
  l->content_length = HTTP_parse_header_size(header);
}

void apply_length_locked(StreamInfo *info, const learned &l) {
  info->time_position = l.time_position;
  info->byte_offset = l.byte_offset >= 0 ? l.byte_offset : -1;
  if (l.byte_offset >= 0) info->position = l.byte_offset;
  if (l.duration >= 0 && l.duration <= INT32_MAX) info->duration = static_cast<int32_t>(l.duration);
  if (l.total > info->total_length) info->total_length = l.total;
  if (l.content_length > info->total_length) info->total_length = l.content_length;
}

void parse_all(const char *header, learned *l) {
  l->add_features = features_of(header);
  parse_length_and_offset(header, l);
  char *features = field_line(header, "contentFeatures.dlna.org:");
  l->has_flags = dlna_flags(features, &l->flags);
  const char *op = features ? std::strstr(features, "DLNA.ORG_OP=") : nullptr;
  l->op = op != nullptr;
  l->op_one = op && op[12] && (op[12] == '1' || op[13] == '1');
  upnp_free_impl(features);
}

// Applies all of it; the resource flags for the comparison come back.
uint32_t apply_all_locked(StreamInfo *info, const learned &l, char *type) {
  if (info->features & STREAM_FEATURE_PROTECTED) {
    upnp_free_impl(type);  // the protection session told the content's own type
  } else {
    upnp_free_impl(info->content_type);
    info->content_type = type;
  }
  info->features |= l.add_features;
  apply_length_locked(info, l);
  if (!l.has_flags) return info->resource_flags;
  info->response_flags = l.flags;
  bool limited = (l.flags & (DLNA_FLAG_TIME_LIMITED_SEEK | DLNA_FLAG_BYTE_LIMITED_SEEK)) != 0;
  info->limited_random_access = limited && !l.op_one ? 1 : 0;
  if (l.flags & DLNA_FLAG_TIME_LIMITED_SEEK) info->features |= STREAM_FEATURE_TIME_SEEK;
  if (l.flags & DLNA_FLAG_BYTE_LIMITED_SEEK) info->features |= STREAM_FEATURE_BYTE_SEEK;
  return info->resource_flags;
}

void log_flags(const learned &l, uint32_t resource_flags) {
  if (!l.has_flags) return;
  uint32_t flags = l.flags;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "storeStreamFeatures",
                "DLNA flags %08x: interactive %d, streaming %d, background %d", flags,
                (flags & DLNA_FLAG_INTERACTIVE) ? 1 : 0, (flags & DLNA_FLAG_STREAMING) ? 1 : 0,
                (flags & DLNA_FLAG_BACKGROUND) ? 1 : 0);
  if (resource_flags != 0 && resource_flags != flags)
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "storeStreamFeatures",
                  "res@ProtocolInfo DLNA_FLAGS do not match the contentFeatures.dlna.org DLNA_FLAGS");
  if ((flags & (DLNA_FLAG_TIME_LIMITED_SEEK | DLNA_FLAG_BYTE_LIMITED_SEEK)) && l.op)
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "storeStreamFeatures",
                  "SERVER HAS ISSUES: DLNA.ORG_OP was provided when Limited Random Access Model specified! "
                  "(illegal)");
}

}  // namespace

void upnp_renderer_add_stream_features(StreamInfo *info, const char *header) {
  if (!info || !header) return;
  uint64_t add = features_of(header);
  EnterCriticalSection(&info->lock);
  info->features |= add;
  LeaveCriticalSection(&info->lock);
}

void setLengthAndOffset(StreamInfo *info, const char *header) {
  if (!info || !header) return;
  learned l;
  parse_length_and_offset(header, &l);
  EnterCriticalSection(&info->lock);
  apply_length_locked(info, l);
  LeaveCriticalSection(&info->lock);
}

void storeStreamFeatures(StreamInfo *info, const char *header) {
  if (!info || !header) return;
  learned l;
  parse_all(header, &l);
  char *type = HTTP_parse_header_mime_type(header);
  EnterCriticalSection(&info->lock);
  uint32_t resource_flags = apply_all_locked(info, l, type);
  LeaveCriticalSection(&info->lock);
  log_flags(l, resource_flags);
}

int stream_learn(StreamInfo *info, uint32_t generation, const char *header, int all) {
  learned l;
  char *type = nullptr;
  if (all) {
    parse_all(header, &l);
    type = HTTP_parse_header_mime_type(header);
  } else {
    parse_length_and_offset(header, &l);
  }
  EnterCriticalSection(&info->lock);
  int current = info->receiver == generation;
  uint32_t resource_flags = 0;
  if (current && all) {
    resource_flags = apply_all_locked(info, l, type);
    type = nullptr;
  } else if (current) {
    apply_length_locked(info, l);
  }
  LeaveCriticalSection(&info->lock);
  upnp_free_impl(type);
  if (current && all) log_flags(l, resource_flags);
  return current;
}
