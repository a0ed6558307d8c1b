// The component object ZelControlPoint2XPCom: reference counting, interface
// lookup, the observer slots, and the methods of iZelControlPoint2XPCom.
#ifndef KESTREL_XPCOM_ZELCONTROLPOINT2XPCOM_H
#define KESTREL_XPCOM_ZELCONTROLPOINT2XPCOM_H

#include "xpcom/iZelControlPoint2XPCom.h"
#include "xpcom/ZelXPComObserverList.h"

class ZelControlPoint2XPCom : public iZelControlPoint2XPCom {
 public:
  ZelControlPoint2XPCom();

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override;
  NS_IMETHOD_(nsrefcnt) AddRef() override;
  NS_IMETHOD_(nsrefcnt) Release() override;

  NS_IMETHOD GetNumRenderers(PRInt32 *count) override;
  NS_IMETHOD GetRendererInfo(PRInt32 index, char **info) override;
  NS_IMETHOD GetRendererInfoFromBookmark(const char *bookmark, char **info) override;
  NS_IMETHOD SetRendererInfo(const char *bookmark, const char *name, PRInt32 icon) override;
  NS_IMETHOD GetRendererPlayState(const char *bookmark, char **state) override;
  NS_IMETHOD CanRendererPlayItem(const char *bookmark, const char *url, PRInt32 *canPlay) override;
  NS_IMETHOD GetNumServers(PRInt32 *count) override;
  NS_IMETHOD GetServerInfo(PRInt32 index, char **info) override;
  NS_IMETHOD GetServerInfoFromBookmark(const char *bookmark, char **info) override;
  NS_IMETHOD GetNumMusicItems(const char *bookmark, PRInt32 *count) override;
  NS_IMETHOD GetMusicItem(const char *bookmark, PRInt32 index, char **info) override;
  NS_IMETHOD PlayItem(const char *bookmark, PRUint32 type, const char *name, const char *url, PRInt32 *ok) override;
  NS_IMETHOD PlayIndex(const char *bookmark, PRUint32 index, PRInt32 *ok) override;
  NS_IMETHOD Pause(const char *bookmark) override;
  NS_IMETHOD Resume(const char *bookmark) override;
  NS_IMETHOD SetQueue(const char *bookmark, PRUint32 type, PRUint32 count, const char **names,
                      const char **urls) override;
  NS_IMETHOD AddToQueue(const char *bookmark, PRUint32 type, PRUint32 count, const char **names,
                        const char **urls) override;
  NS_IMETHOD StopRenderer(const char *bookmark) override;
  NS_IMETHOD SetSlideshowInterval(PRUint32 seconds) override;
  NS_IMETHOD GetCurrentQueueIndex(const char *bookmark, PRInt32 *index) override;
  NS_IMETHOD GetNumItemsInQueue(const char *bookmark, PRInt32 *count) override;
  NS_IMETHOD GetVolume(const char *bookmark, PRInt32 *volume) override;
  NS_IMETHOD SetVolume(const char *bookmark, PRUint32 volume) override;
  NS_IMETHOD GetMute(const char *bookmark, PRInt32 *mute) override;
  NS_IMETHOD SetMute(const char *bookmark, PRUint32 mute) override;
  NS_IMETHOD StartPlaylistServer() override;
  NS_IMETHOD GetPlaylistList(PRUint32 *count, char ***list) override;
  NS_IMETHOD CreatePlaylist(const char *name, PRUint32 type, PRUint32 *id) override;
  NS_IMETHOD DeletePlaylist(PRUint32 id) override;
  NS_IMETHOD AddItemsToPlaylist(PRUint32 id, PRUint32 count, const char **names, const char **urls) override;
  NS_IMETHOD DeleteItemFromPlaylist(PRUint32 id, PRUint32 index) override;
  NS_IMETHOD MoveItemInPlaylist(PRUint32 id, PRUint32 from, PRUint32 to) override;
  NS_IMETHOD RenamePlaylist(PRUint32 id, const char *name) override;
  NS_IMETHOD RenameItemInPlaylist(PRUint32 id, PRUint32 index, const char *name) override;
  NS_IMETHOD SetProgramOption(const char *name, const char *value) override;
  NS_IMETHOD GetProgramOption(const char *name, char **value) override;
  NS_IMETHOD GetMediaTypeForSite(const char *url, PRUint32 *type) override;
  NS_IMETHOD GetYouTubeItemName(const char *url, char **name) override;
  NS_IMETHOD GetStreamableURL(const char *url, char **streamable) override;
  NS_IMETHOD GetCurrentDate(char **date) override;
  NS_IMETHOD GetLocalServerVersion(char **version) override;
  NS_IMETHOD GetLocalServerFullVersionString(char **version) override;
  NS_IMETHOD AddControlPointObserver(iZelControlPoint2XPComObserver *observer) override;
  NS_IMETHOD RemoveControlPointObserver(iZelControlPoint2XPComObserver *observer) override;
  NS_IMETHOD AddRendererObserver(iZelControlPoint2XPComObserver *observer) override;
  NS_IMETHOD RemoveRendererObserver(iZelControlPoint2XPComObserver *observer) override;

  virtual ~ZelControlPoint2XPCom();

  // Does nothing; kept for hosts that call it.
  void AllowLMMToComeToForeground() {}

  // The photo slideshow time-out in seconds handed to a renderer before each
  // play request.
  static PRUint32 s_slideshowInterval;
  // Observers of control point events and of renderer events, shared by
  // every instance.
  static ZelXPComObserverList s_ControlPointEventObserverArray;
  static ZelXPComObserverList s_RendererEventObserverArray;

 private:
  // Only the host's main thread uses an instance.
  nsrefcnt m_refCount;
};

// The class's constructor of the module description: no aggregation; the
// new object queried for iid into *result.
nsresult ZelControlPoint2XPComConstructor(nsISupports *outer, const nsIID &iid, void **result);

#endif
