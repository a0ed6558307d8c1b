// The interface methods whose work needs the playlist store (the local
// playlists and the playlist server): until it is there they answer
// NS_ERROR_NOT_IMPLEMENTED and leave every out value cleared.
#include "xpcom/ZelControlPoint2XPCom.h"

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

