// The interface methods whose work needs the control point singleton and its
// servers, renderers, queues and playlists: until it is there they answer
// NS_ERROR_NOT_IMPLEMENTED and leave every out value cleared.
#include "xpcom/ZelControlPoint2XPCom.h"

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumRenderers(PRInt32 *count) {
  if (count != nullptr) *count = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetRendererInfo(PRInt32 /*index*/, char **info) {
  if (info != nullptr) *info = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetRendererInfoFromBookmark(const char * /*bookmark*/, char **info) {
  if (info != nullptr) *info = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetRendererPlayState(const char * /*bookmark*/, char **state) {
  if (state != nullptr) *state = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::CanRendererPlayItem(const char * /*bookmark*/, const char * /*url*/,
                                                         PRInt32 *canPlay) {
  if (canPlay != nullptr) *canPlay = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumServers(PRInt32 *count) {
  if (count != nullptr) *count = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetServerInfo(PRInt32 /*index*/, char **info) {
  if (info != nullptr) *info = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetServerInfoFromBookmark(const char * /*bookmark*/, char **info) {
  if (info != nullptr) *info = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumMusicItems(const char * /*bookmark*/, PRInt32 *count) {
  if (count != nullptr) *count = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetMusicItem(const char * /*bookmark*/, PRInt32 /*index*/, char **info) {
  if (info != nullptr) *info = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::PlayItem(const char * /*bookmark*/, PRUint32 /*type*/, const char * /*name*/,
                                              const char * /*url*/, PRInt32 *ok) {
  if (ok != nullptr) *ok = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::PlayIndex(const char * /*bookmark*/, PRUint32 /*index*/, PRInt32 *ok) {
  if (ok != nullptr) *ok = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::Pause(const char * /*bookmark*/) { return NS_ERROR_NOT_IMPLEMENTED; }

NS_IMETHODIMP ZelControlPoint2XPCom::Resume(const char * /*bookmark*/) { return NS_ERROR_NOT_IMPLEMENTED; }

NS_IMETHODIMP ZelControlPoint2XPCom::SetQueue(const char * /*bookmark*/, PRUint32 /*type*/, PRUint32 /*count*/,
                                              const char ** /*names*/, const char ** /*urls*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::AddToQueue(const char * /*bookmark*/, PRUint32 /*type*/, PRUint32 /*count*/,
                                                const char ** /*names*/, const char ** /*urls*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::StopRenderer(const char * /*bookmark*/) { return NS_ERROR_NOT_IMPLEMENTED; }

NS_IMETHODIMP ZelControlPoint2XPCom::GetCurrentQueueIndex(const char * /*bookmark*/, PRInt32 *index) {
  if (index != nullptr) *index = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetNumItemsInQueue(const char * /*bookmark*/, PRInt32 *count) {
  if (count != nullptr) *count = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetVolume(const char * /*bookmark*/, PRInt32 *volume) {
  if (volume != nullptr) *volume = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetVolume(const char * /*bookmark*/, PRUint32 /*volume*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetMute(const char * /*bookmark*/, PRInt32 *mute) {
  if (mute != nullptr) *mute = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetMute(const char * /*bookmark*/, PRUint32 /*mute*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::StartPlaylistServer() { return NS_ERROR_NOT_IMPLEMENTED; }

NS_IMETHODIMP ZelControlPoint2XPCom::GetPlaylistList(PRUint32 *count, char ***list) {
  if (count != nullptr) *count = 0;
  if (list != nullptr) *list = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::CreatePlaylist(const char * /*name*/, PRUint32 /*type*/, PRUint32 *id) {
  if (id != nullptr) *id = 0;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::DeletePlaylist(PRUint32 /*id*/) { return NS_ERROR_NOT_IMPLEMENTED; }

NS_IMETHODIMP ZelControlPoint2XPCom::AddItemsToPlaylist(PRUint32 /*id*/, PRUint32 /*count*/, const char ** /*names*/,
                                                        const char ** /*urls*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::DeleteItemFromPlaylist(PRUint32 /*id*/, PRUint32 /*index*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::MoveItemInPlaylist(PRUint32 /*id*/, PRUint32 /*from*/, PRUint32 /*to*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::RenamePlaylist(PRUint32 /*id*/, const char * /*name*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::RenameItemInPlaylist(PRUint32 /*id*/, PRUint32 /*index*/, const char * /*name*/) {
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetLocalServerVersion(char **version) {
  if (version != nullptr) *version = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetLocalServerFullVersionString(char **version) {
  if (version != nullptr) *version = nullptr;
  return NS_ERROR_NOT_IMPLEMENTED;
}
