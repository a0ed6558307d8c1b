#ifndef KESTREL_MEDIA_ZEL_YOUTUBE_ITEM_H
#define KESTREL_MEDIA_ZEL_YOUTUBE_ITEM_H

/* A video link of the video site (hosts: configuration properties, see
 * zel_site_config.h). Its name becomes the video's title once fetched; its
 * playable URL is the stream the site's stream request redirects to, resolved
 * once per item within ZEL_VIDEO_RESOLVE_DEADLINE_MS, unless a local beam
 * server plays the link itself. */

#include <stddef.h>

#include "media/zel_media_item.h"

/* Everything one resolution of a link into a stream may take: the video-
 * information request and every format try share it. */
#define ZEL_VIDEO_RESOLVE_DEADLINE_MS 15000
/* The stream formats tried, in this order. */
#define ZEL_VIDEO_FORMATS {37, 22, 18}

class ZelYouTubeUrlMediaItem2 : public ZelUrlMediaItem2 {
 public:
  ZelYouTubeUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin, const char *url);
  ~ZelYouTubeUrlMediaItem2() override;
  ZelMediaItem2 *Clone() override;
  /* The video title once fetched and known, otherwise the name. */
  const char *GetName() override;
  void Copy(ZelMediaItem2 *other) override;
  /* The link itself when a local beam server is known; otherwise the stream
   * URL of the one resolution attempt (none when it failed). */
  const char *GetPlayableUrl() override;

  /* Fetches the title (video information, else the data feed) once; whether
   * a title is known. */
  bool GetVideoInfo();
  /* The video id of the item's link (every link form), cut at "&" and
   * truncated to size; false for a link without one. */
  bool GetYouTubeVideoId(char *out, size_t size) const;
  const char *GetVideoTitle() const { return m_videoTitle; }

  static ZelYouTubeUrlMediaItem2 *AllocateZelYouTubeUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type,
                                                                  MEDIA_ITEM_ORIGIN origin, const char *url);
  /* The site's web address ("http://" and the configured web host). */
  static bool GetWebAddress(char *out, size_t size);
  static bool IsUrlYouTubeLink(const char *url);
  static bool IsYouTubePlayableURL(const char *url);
  /* The video id of any link (as GetYouTubeVideoId). */
  static bool VideoIdOfUrl(const char *url, char *out, size_t size);
  /* Resolves an id into a stream URL and the title (both truncated to their
   * sizes; the title may stay empty); false without a stream URL. */
  static bool GetStreamableUrlFromYouTubeVideoID(const char *id, char *url, size_t urlSize, char *title,
                                                 size_t titleSize);
  /* As above within deadlineMs instead of ZEL_VIDEO_RESOLVE_DEADLINE_MS. */
  static bool ResolveVideoWithin(const char *id, char *url, size_t urlSize, char *title, size_t titleSize,
                                 unsigned int deadlineMs);

 private:
  bool m_infoFetched = false;
  bool m_streamAttempted = false;
  char *m_videoTitle = nullptr;
};

/* The look for a local beam server (set by the control point singleton; none
 * is known until then). */
typedef bool (*ZelBeamServerLookup)(void);
void ZelMediaSetBeamServerLookup(ZelBeamServerLookup lookup);
bool ZelMediaHasLocalBeamServer(void);

#endif
