/* The component's interface iZelControlPoint2XPCom and the observer
 * interface iZelControlPoint2XPComObserver, with their identifiers and the
 * component's class and contract IDs. The component and every host are built
 * against this header: the slot order and the types below are the binary
 * contract between them.
 *
 * Strings are NUL-terminated 8-bit strings passed through unchanged. In
 * strings and in string arrays are only read during the call. Every out
 * string is a new block of the XPCOM allocator that the caller frees with
 * NS_Free; an out string array is a new array of new strings, the array and
 * each element freed with NS_Free. "int" is signed 32-bit, "unsigned"
 * unsigned 32-bit. */
#ifndef KESTREL_XPCOM_IZELCONTROLPOINT2XPCOM_H
#define KESTREL_XPCOM_IZELCONTROLPOINT2XPCOM_H

#include "xpcom_supports.h"

#define IZELCONTROLPOINT2XPCOM_IID_STR "9caa90f8-85f2-4dee-9453-03337bfa23a7"
#define IZELCONTROLPOINT2XPCOM_IID \
  { 0x9caa90f8, 0x85f2, 0x4dee, { 0x94, 0x53, 0x03, 0x33, 0x7b, 0xfa, 0x23, 0xa7 } }

#define IZELCONTROLPOINT2XPCOMOBSERVER_IID_STR "5b1d1eca-84ae-40a1-b7a4-f7ba53f79033"
#define IZELCONTROLPOINT2XPCOMOBSERVER_IID \
  { 0x5b1d1eca, 0x84ae, 0x40a1, { 0xb7, 0xa4, 0xf7, 0xba, 0x53, 0xf7, 0x90, 0x33 } }

#define KCONTROLPOINT2_CID_STR "e88615c3-df89-4225-b525-b593c719fcb6"
#define KCONTROLPOINT2_CID \
  { 0xe88615c3, 0xdf89, 0x4225, { 0xb5, 0x25, 0xb5, 0x93, 0xc7, 0x19, 0xfc, 0xb6 } }

#define ZEL_CONTROLPOINT2_CONTRACTID "@lumet.invalid/controlpoint2;1"

/* Receives one event text per call: "RendererAdded:<bookmark>",
 * "RendererRemoved:<bookmark>" for control point observers, "<STATE>:<bookmark>"
 * for renderer observers. The result is ignored. */
class iZelControlPoint2XPComObserver : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(IZELCONTROLPOINT2XPCOMOBSERVER_IID)

  NS_IMETHOD OnEvent(const char *text) = 0;
};

class iZelControlPoint2XPCom : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(IZELCONTROLPOINT2XPCOM_IID)

  /* 1 */ NS_IMETHOD GetNumRenderers(PRInt32 *count) = 0;
  /* 2 */ NS_IMETHOD GetRendererInfo(PRInt32 index, char **info) = 0;
  /* 3 */ NS_IMETHOD GetRendererInfoFromBookmark(const char *bookmark, char **info) = 0;
  /* 4 */ NS_IMETHOD SetRendererInfo(const char *bookmark, const char *name, PRInt32 icon) = 0;
  /* 5 */ NS_IMETHOD GetRendererPlayState(const char *bookmark, char **state) = 0;
  /* 6 */ NS_IMETHOD CanRendererPlayItem(const char *bookmark, const char *url, PRInt32 *canPlay) = 0;
  /* 7 */ NS_IMETHOD GetNumServers(PRInt32 *count) = 0;
  /* 8 */ NS_IMETHOD GetServerInfo(PRInt32 index, char **info) = 0;
  /* 9 */ NS_IMETHOD GetServerInfoFromBookmark(const char *bookmark, char **info) = 0;
  /* 10 */ NS_IMETHOD GetNumMusicItems(const char *bookmark, PRInt32 *count) = 0;
  /* 11 */ NS_IMETHOD GetMusicItem(const char *bookmark, PRInt32 index, char **info) = 0;
  /* 12 */ NS_IMETHOD PlayItem(const char *bookmark, PRUint32 type, const char *name, const char *url,
                               PRInt32 *ok) = 0;
  /* 13 */ NS_IMETHOD PlayIndex(const char *bookmark, PRUint32 index, PRInt32 *ok) = 0;
  /* 14 */ NS_IMETHOD Pause(const char *bookmark) = 0;
  /* 15 */ NS_IMETHOD Resume(const char *bookmark) = 0;
  /* 16 */ NS_IMETHOD SetQueue(const char *bookmark, PRUint32 type, PRUint32 count, const char **names,
                               const char **urls) = 0;
  /* 17 */ NS_IMETHOD AddToQueue(const char *bookmark, PRUint32 type, PRUint32 count, const char **names,
                                 const char **urls) = 0;
  /* 18 */ NS_IMETHOD StopRenderer(const char *bookmark) = 0;
  /* 19 */ NS_IMETHOD SetSlideshowInterval(PRUint32 seconds) = 0;
  /* 20 */ NS_IMETHOD GetCurrentQueueIndex(const char *bookmark, PRInt32 *index) = 0;
  /* 21 */ NS_IMETHOD GetNumItemsInQueue(const char *bookmark, PRInt32 *count) = 0;
  /* 22 */ NS_IMETHOD GetVolume(const char *bookmark, PRInt32 *volume) = 0;
  /* 23 */ NS_IMETHOD SetVolume(const char *bookmark, PRUint32 volume) = 0;
  /* 24 */ NS_IMETHOD GetMute(const char *bookmark, PRInt32 *mute) = 0;
  /* 25 */ NS_IMETHOD SetMute(const char *bookmark, PRUint32 mute) = 0;
  /* 26 */ NS_IMETHOD StartPlaylistServer() = 0;
  /* 27 */ NS_IMETHOD GetPlaylistList(PRUint32 *count, char ***list) = 0;
  /* 28 */ NS_IMETHOD CreatePlaylist(const char *name, PRUint32 type, PRUint32 *id) = 0;
  /* 29 */ NS_IMETHOD DeletePlaylist(PRUint32 id) = 0;
  /* 30 */ NS_IMETHOD AddItemsToPlaylist(PRUint32 id, PRUint32 count, const char **names, const char **urls) = 0;
  /* 31 */ NS_IMETHOD DeleteItemFromPlaylist(PRUint32 id, PRUint32 index) = 0;
  /* 32 */ NS_IMETHOD MoveItemInPlaylist(PRUint32 id, PRUint32 from, PRUint32 to) = 0;
  /* 33 */ NS_IMETHOD RenamePlaylist(PRUint32 id, const char *name) = 0;
  /* 34 */ NS_IMETHOD RenameItemInPlaylist(PRUint32 id, PRUint32 index, const char *name) = 0;
  /* 35 */ NS_IMETHOD SetProgramOption(const char *name, const char *value) = 0;
  /* 36 */ NS_IMETHOD GetProgramOption(const char *name, char **value) = 0;
  /* 37 */ NS_IMETHOD GetMediaTypeForSite(const char *url, PRUint32 *type) = 0;
  /* 38 */ NS_IMETHOD GetYouTubeItemName(const char *url, char **name) = 0;
  /* 39 */ NS_IMETHOD GetStreamableURL(const char *url, char **streamable) = 0;
  /* 40 */ NS_IMETHOD GetCurrentDate(char **date) = 0;
  /* 41 */ NS_IMETHOD GetLocalServerVersion(char **version) = 0;
  /* 42 */ NS_IMETHOD GetLocalServerFullVersionString(char **version) = 0;
  /* 43 */ NS_IMETHOD AddControlPointObserver(iZelControlPoint2XPComObserver *observer) = 0;
  /* 44 */ NS_IMETHOD RemoveControlPointObserver(iZelControlPoint2XPComObserver *observer) = 0;
  /* 45 */ NS_IMETHOD AddRendererObserver(iZelControlPoint2XPComObserver *observer) = 0;
  /* 46 */ NS_IMETHOD RemoveRendererObserver(iZelControlPoint2XPComObserver *observer) = 0;
};

#endif
