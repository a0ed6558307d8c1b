// The upload entry points: the class table and the argument rules of file,
// metadata and playlist uploads, over server_upload.
#include <cstring>

#include "base/upnp_log.h"
#include "playlist/lm_dmscp_upload_internal.h"

namespace {

constexpr const char *kAnyContainer = "DLNA.ORG_AnyContainer";
constexpr const char *kPlaylistInfo = "*:*:application/vnd.ms-wpl:*";

bool has(const char *text, const char *part) { return std::strstr(text, part) != nullptr; }

}  // namespace

const char *mapMimeToClass(const char *protocol_info) {
  if (protocol_info == nullptr) return nullptr;
  if (has(protocol_info, ":audio/")) return "object.item.audioItem.musicTrack";
  if (has(protocol_info, ":video/")) return "object.item.videoItem.movie";
  if (has(protocol_info, ":image/")) return "object.item.imageItem.photo";
  if (has(protocol_info, "application/vnd.ms-wpl")) return "object.container.playlistContainer";
  if (has(protocol_info, "application/x-dtcp1")) {
    if (has(protocol_info, "audio/")) return "object.item.audioItem.musicTrack";
    if (has(protocol_info, "video/")) return "object.item.videoItem.movie";
  }
  return nullptr;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_upload(uint32_t context, void *user_data, const char *title,
                                                       const char *protocol_info, uint32_t block_size,
                                                       lm_dmscp_upload_callback callback, uint32_t bookmark_size,
                                                       char *bookmark, uint64_t content_length) {
  return server_upload(context, user_data, title, protocol_info, nullptr, kAnyContainer, block_size, callback,
                       bookmark_size, bookmark, content_length);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_upload_with_metadata(
    uint32_t context, void *user_data, const char *title, const char *protocol_info, const char *metadata,
    uint32_t block_size, lm_dmscp_upload_callback callback, uint32_t bookmark_size, char *bookmark,
    uint64_t content_length) {
  return server_upload(context, user_data, title, protocol_info, metadata, kAnyContainer, block_size, callback,
                       bookmark_size, bookmark, content_length);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_upload_playlist(uint32_t context, void *user_data, const char *title,
                                                                uint32_t playlist_type, uint32_t format,
                                                                uint32_t block_size,
                                                                lm_dmscp_upload_callback callback,
                                                                uint32_t bookmark_size, char *bookmark) {
  if (bookmark != nullptr && bookmark_size > 0) bookmark[0] = '\0';
  if (format != 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, 128, __func__, "lm_dmscp_upload_playlist: Invalid playlist format: %d",
                  static_cast<int>(format));
    return LM_NMC_INVALID_PARAMETER;
  }
  const char *location = nullptr;
  switch (playlist_type) {
    case LM_DMSCP_PLAYLIST_MUSIC: location = ".,music/playlists"; break;
    case LM_DMSCP_PLAYLIST_PICTURE: location = ".,picture/playlists"; break;
    case LM_DMSCP_PLAYLIST_VIDEO: location = ".,video/playlists"; break;
    case LM_DMSCP_PLAYLIST_ANY: location = ".,playlists"; break;
    default:
      upnp_log_impl(LOG_LEVEL_ERROR, 128, __func__, "lm_dmscp_upload_playlist: Invalid playlist type: %u",
                    playlist_type);
      return LM_NMC_INVALID_PARAMETER;
  }
  // The container sent is the location after ".,".
  return server_upload(context, user_data, title, kPlaylistInfo, nullptr, location + 2, block_size, callback,
                       bookmark_size, bookmark, 0);
}
