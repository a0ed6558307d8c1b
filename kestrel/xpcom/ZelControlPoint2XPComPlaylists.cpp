// The component's playlist methods: the local playlist list (read from the
// playlists folder on first use), its playlists found by id, their items,
// and the start of the local playlist server. Every change saves the
// playlist, which writes its file and publishes it when a server can take it.
//
// Names: a null or empty playlist name, or one whose file another playlist
// already owns (the same name without regard to case, or a name that maps
// to the same file name), is refused with NS_ERROR_INVALID_ARG, so no two
// playlists share a file. Null entries in the name and URL arrays are empty
// strings; a count above zero without both arrays is NS_ERROR_INVALID_ARG.
#include <limits.h>
#include <string.h>

#include <string>

#include "media/zel_media_item_playlist.h"
#include "media/zel_util.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom/ZelControlPoint2XPComLookup.h"
#include "xpcom/zel_xpcom_out.h"
#include "xpcom_memory.h"

namespace {

// The local list, or none with *rv set (NS_ERROR_NOT_AVAILABLE without a
// control point; NS_OK when only the list cannot be had).
ZelMediaItemPlaylistList *local_list(nsresult *rv) {
  ZelControlPoint2 *cp = zel_xpcom_control_point(rv);
  if (cp == nullptr) return nullptr;
  *rv = NS_OK;
  return cp->GetLocalPlaylistList();
}

// Runs body on the playlist of the id; NS_ERROR_INVALID_ARG without one.
template <typename Body>
nsresult with_playlist(PRUint32 id, Body body) {
  return zel_xpcom_guard([&]() -> nsresult {
    nsresult rv = NS_OK;
    ZelMediaItemPlaylistList *list = local_list(&rv);
    if (list == nullptr) return rv != NS_OK ? rv : NS_ERROR_INVALID_ARG;
    ZelMediaItemPlaylist *playlist = list->FindPlaylistById(id);
    if (playlist == nullptr) return NS_ERROR_INVALID_ARG;
    return body(list, playlist);
  });
}

// A name the list can take for playlist (none for a new one).
bool name_free(ZelMediaItemPlaylistList *list, const char *name, const ZelMediaItemPlaylist *playlist) {
  return name != nullptr && name[0] != '\0' && list->FindPlaylistByFileKey(name, playlist) == nullptr;
}

bool valid_index(PRUint32 index) { return index <= static_cast<PRUint32>(INT_MAX); }

const char *type_text(MEDIA_ITEM_TYPE type) {
  return type == MT_MUSIC ? "MUSIC" : type == MT_PHOTO ? "PHOTO" : "VIDEO";
}

std::string entry_text(ZelMediaItemPlaylist *playlist) {
  std::string text = std::string(playlist->GetName()) + "|" + type_text(playlist->GetType()) + "|" +
                     std::to_string(playlist->GetID());
  for (uint32_t i = 0; i < playlist->Count(); ++i) {
    text += "|";
    auto *item = dynamic_cast<ZelUrlMediaItem2 *>(playlist->GetItem(static_cast<int>(i)));
    if (item == nullptr) continue;
    text += item->GetName();
    text += "~";
    text += item->GetUrl() != nullptr ? item->GetUrl() : "";
  }
  return text;
}

}  // namespace

NS_IMETHODIMP ZelControlPoint2XPCom::StartPlaylistServer() {
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    ZelControlPoint2 *cp = zel_xpcom_control_point(&rv);
    if (cp == nullptr) return rv;
    if (cp->HoldLocalPlaylistServer(false) == nullptr) (void)ZelUtil::LaunchLmsLite();
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetPlaylistList(PRUint32 *count, char ***list) {
  if (count == nullptr || list == nullptr) return NS_ERROR_NULL_POINTER;
  *count = 0;
  *list = nullptr;
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    ZelMediaItemPlaylistList *playlists = local_list(&rv);
    if (playlists == nullptr) return rv;
    const PRUint32 n = playlists->Count();
    if (n == 0) return NS_OK;  // no playlists: count 0 and no array
    char **out = static_cast<char **>(NS_Alloc(n * sizeof(char *)));
    if (out == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    for (PRUint32 i = 0; i < n; ++i) {
      out[i] = NS_StringClone(entry_text(playlists->GetPlaylist(i)).c_str());
      if (out[i] == nullptr) {
        for (PRUint32 j = 0; j < i; ++j) NS_Free(out[j]);
        NS_Free(out);
        return NS_ERROR_OUT_OF_MEMORY;
      }
    }
    *count = n;
    *list = out;
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::CreatePlaylist(const char *name, PRUint32 type, PRUint32 *id) {
  if (id == nullptr) return NS_ERROR_NULL_POINTER;
  *id = 0;
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    ZelMediaItemPlaylistList *list = local_list(&rv);
    if (list == nullptr) return rv;
    if (!name_free(list, name, nullptr)) return NS_ERROR_INVALID_ARG;
    ZelMediaItemPlaylist *playlist = ZelMediaItemPlaylist::AllocateZelMediaItemPlaylist(name, type);
    if (playlist == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    if (!list->AddPlaylist(playlist)) {
      delete playlist;
      return NS_ERROR_OUT_OF_MEMORY;
    }
    *id = playlist->GetID();
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::DeletePlaylist(PRUint32 id) {
  return zel_xpcom_guard([&] {
    nsresult rv = NS_OK;
    ZelMediaItemPlaylistList *list = local_list(&rv);
    if (list == nullptr) return rv;
    ZelMediaItemPlaylist *playlist = list->FindPlaylistById(id);
    if (playlist != nullptr) (void)list->RemovePlaylist(playlist);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::AddItemsToPlaylist(PRUint32 id, PRUint32 count, const char **names,
                                                        const char **urls) {
  if (count == 0 || names == nullptr || urls == nullptr) return NS_ERROR_INVALID_ARG;
  return with_playlist(id, [&](ZelMediaItemPlaylistList *, ZelMediaItemPlaylist *playlist) -> nsresult {
    for (PRUint32 i = 0; i < count; ++i) {
      ZelUrlMediaItem2 *item = ZelUrlMediaItem2::AllocateZelUrlMediaItem2(
          names[i] != nullptr ? names[i] : "", playlist->GetType(), MO_URL, urls[i] != nullptr ? urls[i] : "");
      if (item == nullptr || !playlist->AddItem(item, -1)) {
        delete item;
        (void)playlist->Save(false, true);
        return NS_ERROR_OUT_OF_MEMORY;
      }
    }
    (void)playlist->Save(false, true);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::DeleteItemFromPlaylist(PRUint32 id, PRUint32 index) {
  return with_playlist(id, [&](ZelMediaItemPlaylistList *, ZelMediaItemPlaylist *playlist) -> nsresult {
    if (!valid_index(index) || !playlist->DeleteItem(static_cast<int>(index))) return NS_ERROR_INVALID_ARG;
    (void)playlist->Save(false, true);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::MoveItemInPlaylist(PRUint32 id, PRUint32 from, PRUint32 to) {
  return with_playlist(id, [&](ZelMediaItemPlaylistList *, ZelMediaItemPlaylist *playlist) -> nsresult {
    if (!valid_index(from) || !playlist->MoveItem(static_cast<int>(from), valid_index(to) ? static_cast<int>(to) : INT_MAX))
      return NS_ERROR_INVALID_ARG;
    (void)playlist->Save(false, true);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::RenamePlaylist(PRUint32 id, const char *name) {
  return with_playlist(id, [&](ZelMediaItemPlaylistList *list, ZelMediaItemPlaylist *playlist) -> nsresult {
    if (!name_free(list, name, playlist)) return NS_ERROR_INVALID_ARG;
    playlist->SetName(name);
    (void)playlist->Save(false, true);
    return NS_OK;
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::RenameItemInPlaylist(PRUint32 id, PRUint32 index, const char *name) {
  return with_playlist(id, [&](ZelMediaItemPlaylistList *, ZelMediaItemPlaylist *playlist) -> nsresult {
    ZelMediaItem2 *item = valid_index(index) ? playlist->GetItem(static_cast<int>(index)) : nullptr;
    if (item == nullptr || name == nullptr) return NS_ERROR_INVALID_ARG;
    if (!item->SetName(name)) return NS_ERROR_OUT_OF_MEMORY;
    playlist->SetModified(true);
    (void)playlist->Save(false, true);
    return NS_OK;
  });
}
