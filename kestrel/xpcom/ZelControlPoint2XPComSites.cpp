// The component's URL and site methods and the date: media types from the
// site-information file, a video link's title, the streamable form of a
// thumbnail URL, and the date corrected by the date server's clock. The
// video site, picture sites and date server are configuration properties
// (zel_xpcom_foundation.h).
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "media/zel_media_item.h"
#include "media/zel_util.h"
#include "media/zel_youtube_item.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom/zel_xpcom_foundation.h"
#include "xpcom/zel_xpcom_out.h"

NS_IMETHODIMP ZelControlPoint2XPCom::GetMediaTypeForSite(const char *url, PRUint32 *type) {
  if (type == nullptr) return NS_ERROR_NULL_POINTER;
  *type = MT_ANY;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    *type = ZelUtil::GetMediaTypeForSite(url);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetYouTubeItemName(const char *url, char **name) {
  if (name == nullptr) return NS_ERROR_NULL_POINTER;
  *name = nullptr;
  return zel_xpcom_guard([&]() -> nsresult {
    zel_xpcom_foundation_ready();
    if (!ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(url)) return NS_ERROR_INVALID_ARG;
    std::unique_ptr<ZelYouTubeUrlMediaItem2> probe(
        ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2("temp", MT_VIDEO, MO_URL, url));
    if (!probe) return NS_ERROR_OUT_OF_MEMORY;
    // One bounded fetch of the video information (the host's main thread
    // waits for it); without a title the answer is "".
    return zel_xpcom_clone_out(probe->GetVideoInfo() ? probe->GetName() : "", name);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetStreamableURL(const char *url, char **streamable) {
  if (streamable == nullptr) return NS_ERROR_NULL_POINTER;
  *streamable = nullptr;
  if (url == nullptr) return NS_ERROR_INVALID_ARG;
  return zel_xpcom_guard([&]() -> nsresult {
    zel_xpcom_foundation_ready();
    // Twice the URL's length and the terminator: the rules lengthen a URL by
    // at most two characters ("albumart" becomes "disk/photo"), and an empty
    // URL still has room for its terminator. Both functions stop at the size.
    size_t length = std::strlen(url);
    if (length > (static_cast<size_t>(-1) - 1) / 2) return NS_ERROR_OUT_OF_MEMORY;
    size_t size = 2 * length + 1;
    std::unique_ptr<char[]> first(new (std::nothrow) char[size]);
    std::unique_ptr<char[]> second(new (std::nothrow) char[size]);
    if (!first || !second) return NS_ERROR_OUT_OF_MEMORY;
    first[0] = '\0';
    second[0] = '\0';
    ZelUrlMediaItem2::TruncateURL(url, first.get(), size, false);
    ZelUrlMediaItem2::TranslateURL(first.get(), second.get(), size);
    return zel_xpcom_clone_out(second.get(), streamable);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetCurrentDate(char **date) {
  if (date == nullptr) return NS_ERROR_NULL_POINTER;
  *date = nullptr;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    struct tm now = ZelUtil::GetCurrentDate();
    char text[32];
    std::snprintf(text, sizeof text, "%2.2d/%2.2d/%4.4d", now.tm_mon + 1, now.tm_mday, now.tm_year + 1900);
    return zel_xpcom_clone_out(text, date);
  });
}
