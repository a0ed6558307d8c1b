// The component's renderer and server methods: play, pause, stop, the queue,
// volume and mute, state, can-play, and a server's music items. Each method
// holds the device it looked up for its own length. Null bookmarks, names or
// URLs never reach the object model: a null bookmark is NS_ERROR_INVALID_ARG,
// a null name is an empty name, and a null URL entry is skipped.
#include <string.h>

#include <memory>

#include "media/zel_youtube_item.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom/ZelControlPoint2XPComLookup.h"
#include "xpcom/zel_xpcom_foundation.h"
#include "xpcom/zel_xpcom_out.h"

namespace {

// The item for a name and URL of the host: a server object for "uuid"
// bookmarks (when allowed), a video link, or a plain URL item.
std::unique_ptr<ZelMediaItem2> host_item(PRUint32 type, const char *name, const char *url, bool serverObjects) {
  if (url == nullptr) return nullptr;
  if (name == nullptr) name = "";
  if (serverObjects && strncmp(url, "uuid", 4) == 0)
    return std::unique_ptr<ZelMediaItem2>(ZelServerMediaItem2::AllocateZelServerMediaItem2(name, type, MO_SERVER, url));
  if (ZelYouTubeUrlMediaItem2::IsUrlYouTubeLink(url))
    return std::unique_ptr<ZelMediaItem2>(
        ZelYouTubeUrlMediaItem2::AllocateZelYouTubeUrlMediaItem2(name, type, MO_URL, url));
  return std::unique_ptr<ZelMediaItem2>(ZelUrlMediaItem2::AllocateZelUrlMediaItem2(name, type, MO_URL, url));
}

// Runs body on the renderer of the bookmark; the lookup's code without one.
template <typename Body>
nsresult with_renderer(const char *bookmark, Body body) {
  return zel_xpcom_guard([&]() -> nsresult {
    nsresult rv = NS_OK;
    std::shared_ptr<ZelMediaRenderer2> renderer = zel_xpcom_renderer(bookmark, &rv);
    if (renderer == nullptr) return rv;
    return body(renderer.get());
  });
}

}  // namespace

NS_IMETHODIMP ZelControlPoint2XPCom::GetRendererPlayState(const char *bookmark, char **state) {
  if (state == nullptr) return NS_ERROR_NULL_POINTER;
  *state = nullptr;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    const char *word = renderer->IsPlaying() ? "PLAYING" : renderer->IsPaused() ? "PAUSED" : "STOPPED";
    return zel_xpcom_clone_out(word, state);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::CanRendererPlayItem(const char *bookmark, const char *url, PRInt32 *canPlay) {
  if (canPlay == nullptr) return NS_ERROR_NULL_POINTER;
  *canPlay = 0;
  if (url == nullptr) return NS_ERROR_INVALID_ARG;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    std::unique_ptr<ZelUrlMediaItem2> probe(ZelUrlMediaItem2::AllocateZelUrlMediaItem2("temp", MT_ANY, MO_URL, url));
    if (probe == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    *canPlay = renderer->CanPlayItem(probe.get()) ? 1 : 0;
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumMusicItems(const char *bookmark, PRInt32 *count) {
  if (count == nullptr) return NS_ERROR_NULL_POINTER;
  *count = 0;
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    std::shared_ptr<ZelMediaServer2> server = zel_xpcom_server(bookmark, &rv);
    if (server == nullptr) return rv == NS_ERROR_NOT_AVAILABLE ? rv : NS_OK;  // an unknown server has none
    *count = static_cast<PRInt32>(server->GetNumMusicItems());
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetMusicItem(const char *bookmark, PRInt32 index, char **info) {
  if (info == nullptr) return NS_ERROR_NULL_POINTER;
  *info = nullptr;
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    std::shared_ptr<ZelMediaServer2> server = zel_xpcom_server(bookmark, &rv);
    if (server == nullptr) return rv;
    if (index < 0) return NS_ERROR_INVALID_ARG;
    ZelMediaItem2 *item = server->GetMusicItem(static_cast<uint32_t>(index));
    if (item == nullptr) return NS_ERROR_INVALID_ARG;
    return zel_xpcom_clone_out(zel_xpcom_item_info(item).c_str(), info);
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::PlayItem(const char *bookmark, PRUint32 type, const char *name, const char *url,
                                              PRInt32 *ok) {
  if (ok == nullptr) return NS_ERROR_NULL_POINTER;
  *ok = 0;
  if (bookmark == nullptr || url == nullptr) return NS_OK;
  nsresult rv = with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    renderer->SetPhotoSlideshowTimeout(s_slideshowInterval);
    std::unique_ptr<ZelMediaItem2> item = host_item(type, name, url, false);
    if (item == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    (void)renderer->Play(item.get(), false);
    *ok = 1;  // the request was made
    return NS_OK;
  });
  return rv == NS_ERROR_INVALID_ARG ? NS_OK : rv;
}

NS_IMETHODIMP ZelControlPoint2XPCom::PlayIndex(const char *bookmark, PRUint32 index, PRInt32 *ok) {
  if (ok == nullptr) return NS_ERROR_NULL_POINTER;
  *ok = 0;
  nsresult rv = with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    renderer->SetPhotoSlideshowTimeout(s_slideshowInterval);
    if (index <= 0x7FFFFFFFu && renderer->Play(static_cast<int>(index)) == ZEL_PLAY_OK) *ok = 1;
    return NS_OK;
  });
  return rv == NS_ERROR_INVALID_ARG ? NS_OK : rv;
}

NS_IMETHODIMP ZelControlPoint2XPCom::Pause(const char *bookmark) {
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    renderer->Pause();
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::Resume(const char *bookmark) {
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    renderer->Resume();
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::StopRenderer(const char *bookmark) {
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    (void)renderer->Stop();
    (void)renderer->ClearQueue();
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::AddToQueue(const char *bookmark, PRUint32 type, PRUint32 count,
                                                const char **names, const char **urls) {
  if (bookmark == nullptr || count == 0 || names == nullptr || urls == nullptr) return NS_ERROR_INVALID_ARG;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    for (PRUint32 i = 0; i < count; ++i) {
      std::unique_ptr<ZelMediaItem2> item = host_item(type, names[i], urls[i], true);
      if (item != nullptr) (void)renderer->AddItemToQueue(item.get());  // the renderer keeps a copy
    }
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetQueue(const char *bookmark, PRUint32 type, PRUint32 count,
                                              const char **names, const char **urls) {
  if (bookmark == nullptr || count == 0 || names == nullptr || urls == nullptr) return NS_ERROR_INVALID_ARG;
  nsresult rv = with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    (void)renderer->ClearQueue();
    return NS_OK;
  });
  if (NS_FAILED(rv)) return rv;
  return AddToQueue(bookmark, type, count, names, urls);
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetCurrentQueueIndex(const char *bookmark, PRInt32 *index) {
  if (index == nullptr) return NS_ERROR_NULL_POINTER;
  *index = -1;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    *index = static_cast<PRInt32>(renderer->CurrentlyPlayingIndexInQueue());
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumItemsInQueue(const char *bookmark, PRInt32 *count) {
  if (count == nullptr) return NS_ERROR_NULL_POINTER;
  *count = 0;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    *count = static_cast<PRInt32>(renderer->NumItemsInQueue());
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetVolume(const char *bookmark, PRInt32 *volume) {
  if (volume == nullptr) return NS_ERROR_NULL_POINTER;
  *volume = 0;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    *volume = static_cast<PRInt32>(renderer->GetVolume());
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetVolume(const char *bookmark, PRUint32 volume) {
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    renderer->SetVolume(volume);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetMute(const char *bookmark, PRInt32 *mute) {
  if (mute == nullptr) return NS_ERROR_NULL_POINTER;
  *mute = 0;
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    *mute = renderer->IsMuted() ? 1 : 0;
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetMute(const char *bookmark, PRUint32 mute) {
  return with_renderer(bookmark, [&](ZelMediaRenderer2 *renderer) {
    renderer->Mute(mute == 1);
    return NS_OK;
  });
}
