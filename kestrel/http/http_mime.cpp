// The MIME table and its lookups.
#include "http/http_mime.h"

#include <cstring>
#include <strings.h>

#include "http/http_mime_clientdb.h"

namespace {

struct MimeGroup {
  const char *type;
  const char *extensions[14];  // null-terminated
};

// Order matters: lookups take the first group that matches, so "wav" maps to
// "audio/x-wav" and "3gp" to "video/3gpp". The last group is the fallback.
const MimeGroup kGroups[] = {
    {"text/plain; charset=utf-8", {"txt"}},
    {"text/html; charset=utf-8", {"htm", "html"}},
    {"audio/mpeg", {"mp3"}},
    {"audio/MPA", {"mpa"}},
    {"audio/x-mpeg", {"mp2"}},
    {"audio/mp1", {"mp1"}},
    {"audio/x-ms-wma", {"wma"}},
    {"audio/L16", {"lpcm", "pcm"}},
    {"audio/x-wav", {"wav"}},
    {"image/jpeg", {"jpg", "jpeg", "jpe"}},
    {"image/tiff", {"tif", "tiff"}},
    {"image/gif", {"gif"}},
    {"image/png", {"png"}},
    {"audio/x-mpegurl", {"m3u", "m3u8"}},
    {"image/x-ycbcr-yuv420", {"yuv"}},
    {"video/x-msvideo", {"avi", "divx"}},
    {"video/mpeg",
     {"mpg", "mpe", "m1v", "vob", "mts", "m2ts", "m2t", "m2p", "m2v", "mp2t", "mp2p", "mpg2", "mod"}},
    {"video/mpeg2", {"mpeg", "mpeg2", "vdr", "spts", "tp", "ts", "tts"}},
    {"video/mp4", {"mp4", "m4v"}},
    {"video/quicktime", {"mov"}},
    {"video/x-ms-wmv", {"wmv"}},
    {"audio/mp4", {"m4a", "mp4.a", "3gp.a", "m4b"}},
    {"audio/x-aac", {"aac", "apl"}},
    {"audio/x-ac3", {"ac3"}},
    {"video/x-ms-asf", {"asf"}},
    {"audio/x-aiff", {"aif", "aiff", "aifc"}},
    {"audio/x-flac", {"flac"}},
    {"application/ogg", {"ogg"}},
    {"text/css", {"css"}},
    {"text/javascript", {"js"}},
    {"image/bmp", {"bmp"}},
    {"video/x-ms-dvr", {"dvr-ms"}},
    {"video/x-xvid", {"xvid"}},
    {"application/x-shockwave-flash", {"swf"}},
    {"video/flv", {"flv"}},
    {"text/xml; charset=\"utf-8\"", {"xml"}},
    {"audio/amr", {"amr"}},
    {"audio/amr-wb", {"awb"}},
    {"video/x-matroska", {"mkv"}},
    {"audio/x-matroska", {"mka"}},
    {"audio/x-wav", {"wav"}},
    {"video/3gpp", {"3gp", "3gpp"}},
    {"audio/3gpp", {"3gp", "3gpp"}},
    {"application/vnd.ms-wpl", {"wpl"}},
    {"application/x-srt", {"srt"}},
    {"application/x-sub", {"sub"}},
    {"application/x-ssa", {"ssa"}},
    {"application/smil", {"smi"}},
    {"application/x-psb", {"psb"}},
    {"application/x-ass", {"ass"}},
    {"video/vnd.dlna.mpeg-tts", {"mpg-tts", "dtcp"}},
    {"audio/vnd.dlna.adts", {"adts"}},
    {"audio/vnd.ms-playready.media.pya", {"pya"}},
    {"video/vnd.ms-playready.media.pyv", {"pyv"}},
    {"application/x-ndsvgdrm", {"vgdrm"}},
    {HTTP_MIME_FALLBACK, {}},
};

constexpr size_t kGroupCount = sizeof(kGroups) / sizeof(kGroups[0]);
constexpr size_t kListedGroups = kGroupCount - 1;  // without the fallback

}  // namespace

extern "C" const char *HTTP_get_mime_type(const struct HTTP_connection *connection,
                                          const char *extension) {
  if (connection && extension) {
    const char *special = http_mime_client_type(connection, extension);
    if (special) return special;
  }
  if (extension) {
    for (size_t g = 0; g < kListedGroups; ++g) {
      for (const char *const *e = kGroups[g].extensions; *e; ++e) {
        if (strcasecmp(*e, extension) == 0) return kGroups[g].type;
      }
    }
  }
  return HTTP_MIME_FALLBACK;
}

extern "C" const char *HTTP_get_extension(const char *path) {
  if (!path) return nullptr;
  const char *dot = std::strrchr(path, '.');
  return dot ? dot + 1 : nullptr;
}

extern "C" int HTTP_is_known_mime_type(const char *text) {
  if (!text) return 0;
  for (size_t g = 0; g < kListedGroups; ++g) {
    if (std::strstr(text, kGroups[g].type)) return 1;
  }
  return 0;
}

extern "C" const char *HTTP_get_extension_by_mime_type(const char *text) {
  if (!text) return nullptr;
  for (size_t g = 0; g < kListedGroups; ++g) {
    if (std::strstr(text, kGroups[g].type)) return kGroups[g].extensions[0];
  }
  return http_mime_client_extension(text);
}
