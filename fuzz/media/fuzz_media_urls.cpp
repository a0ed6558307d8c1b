// The URL functions and the date's header-text reader on arbitrary text.
// Escapes must read back to the input; every output stays within its buffer
// (the sanitizers watch the bytes just past the small buffers).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_media_item.h"
#include "media/zel_platform.h"
#include "media/zel_url_codec.h"
#include "media/zel_util.h"
#include "media/zel_youtube_item.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  upnp_mem_init();
  upnp_log_set_level(LOG_LEVEL_CRITICAL);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  // Up to the first zero byte: the functions take C texts.
  const std::string text(reinterpret_cast<const char *>(data) + 1, strnlen(reinterpret_cast<const char *>(data) + 1, size - 1));
  const size_t small = 1 + data[0] % 16;
  switch (data[0] % 3) {
    case 0: {
      char *out = static_cast<char *>(std::malloc(small));
      char big[4096];
      for (bool cut : {true, false}) {
        ZelUrlMediaItem2::TruncateURL(text.c_str(), out, small, cut);
        ZelUrlMediaItem2::TruncateURL(text.c_str(), big, sizeof big, cut);
      }
      ZelUrlMediaItem2::TranslateURL(text.c_str(), out, small);
      ZelUrlMediaItem2::TranslateURL(text.c_str(), big, sizeof big);
      ZelYouTubeUrlMediaItem2::VideoIdOfUrl(text.c_str(), out, small);
      ZelYouTubeUrlMediaItem2::VideoIdOfUrl(text.c_str(), big, sizeof big);
      ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(text.c_str());
      ZelYouTubeUrlMediaItem2::IsYouTubePlayableURL(text.c_str());
      std::free(out);
      break;
    }
    case 1: {
      char *out = static_cast<char *>(std::malloc(small));
      url_decode(text.c_str(), out, small);
      url_encode(text.c_str(), out, small);
      std::free(out);
      std::string encoded(text.size() * 3 + 1, '\0');
      if (!url_encode(text.c_str(), &encoded[0], encoded.size())) std::abort();
      std::string decoded(text.size() + 1, '\0');
      if (!url_decode(encoded.c_str(), &decoded[0], decoded.size()) || std::strcmp(decoded.c_str(), text.c_str()) != 0) {
        std::abort();
      }
      break;
    }
    default: {
      struct tm date;
      std::memset(&date, 0, sizeof date);
      date.tm_mday = 1;
      if (ZelUtil::ApplyHeaderDate(text.c_str(), &date) &&
          (date.tm_mday < 1 || date.tm_mday > 31 || date.tm_mon < 0 || date.tm_mon > 11)) {
        std::abort();
      }
      // The same text as the header of a redirect, as URL loading writes it.
      char *fields = MUFormatHeaderFields(("HTTP/1.1 302 Found\r\n" + text).c_str());
      ZelUtil::ApplyHeaderDate(fields, &date);
      upnp_free_impl(fields);
      break;
    }
  }
  return 0;
}
