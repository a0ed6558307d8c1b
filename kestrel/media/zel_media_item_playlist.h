#ifndef KESTREL_MEDIA_ZEL_MEDIA_ITEM_PLAYLIST_H
#define KESTREL_MEDIA_ZEL_MEDIA_ITEM_PLAYLIST_H

/* The user's playlists: ZelMediaItemPlaylist is one playlist (URL items with
 * a name, an id for the running process and the bookmark of its uploaded
 * copy), kept as a WPL file in the playlists folder through the WPL store
 * and published to a media server (by default the local playlist server).
 * ZelMediaItemPlaylistList holds playlists; one class-wide instance is the
 * local list loaded from the folder.
 *
 * No two playlists of the local list share a file: names are compared by
 * their file key (the file name the store makes of them, without regard to
 * case), and the component refuses a name that another playlist's key
 * already holds; loading skips a file whose key was loaded already.
 *
 * Threads: playlists are used from the host's main thread; the local list
 * and the class-wide state are created and destroyed under a class lock. */

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "media/zel_media_item_list.h"

#define ZEL_PLAYLIST_BOOKMARK_SIZE 1024u
#define ZEL_PLAYLIST_NO_HANDLE 0xFFFFFFFFu
/* The generator written into our WPL files and the creator of our uploads. */
#define ZEL_PLAYLIST_GENERATOR "LumetBeam"

class ZelMediaServer2;

class ZelMediaItemPlaylist : public ZelMediaItemList2 {
 public:
  ZelMediaItemPlaylist(const char *name, MEDIA_ITEM_TYPE type);
  ~ZelMediaItemPlaylist() override;
  /* Same name and type, a new id, clones of the items. */
  ZelMediaItemList2 *Clone() override;

  static ZelMediaItemPlaylist *AllocateZelMediaItemPlaylist(const char *name, MEDIA_ITEM_TYPE type);

  const char *GetName() const { return m_name.c_str(); }
  uint32_t GetID() const { return m_id; }
  const char *GetServerBookmark() const { return m_serverBookmark.empty() ? nullptr : m_serverBookmark.c_str(); }
  void SetServerBookmark(const char *text) { m_serverBookmark = text != nullptr ? text : ""; }
  uint32_t GetWplHandle() const { return m_wplHandle; }
  /* The file this playlist wrote or was read from ("" for none). */
  const char *GetFilePath() const { return m_filePath.c_str(); }

  /* A new name: the old copy on the server goes and the playlist is saved
   * again. Null or the same name: nothing. */
  void SetName(const char *name);
  /* Writes the file (when keep, or when it had one) and publishes it. False
   * when no server holds (or can hold) the upload, or the upload failed; the
   * file is written all the same. */
  bool Save(bool force, bool keep);
  /* Discards the WPL record (which deletes the file) and the server's copy. */
  bool Delete();
  /* A playlist read from a WPL file, or none. */
  static ZelMediaItemPlaylist *CreateFromFile(const char *path);

  /* The playlists folder (created 0700 with its parent); false without an
   * application-data folder. */
  static bool GetPlaylistsPath(char *out, size_t size);
  /* The key under which a name's file lies: the file name the WPL store
   * makes of it, lower case. */
  static std::string FileKey(const char *name);

  const char *GetPlaylistBookmarkOnServer();
  void SetPlaylistBookmarkOnServer(const char *text);
  void DeletePlaylistOnServer();
  static ZelMediaItemPlaylist *CreatePlaylistFromBookmarkOnServer(ZelMediaServer2 *server, const char *bookmark,
                                                                  MEDIA_ITEM_TYPE type);

  /* The WPL type of an item type and back. */
  static int WplTypeOf(MEDIA_ITEM_TYPE type);
  static MEDIA_ITEM_TYPE ItemTypeOf(int wplType);

  /* Start the WPL store once, stop it once (its starts are counted, so the
   * controller's own start and stop are not disturbed). */
  static bool Init();
  static void Cleanup();
  static bool EnsureWplStore();

  static uint32_t s_lastPlaylistID;
  static bool s_bInitializedWplLibrary;

 private:
  /* The server of the playlist's copy; without one, the local playlist
   * server when orLocal. */
  std::shared_ptr<ZelMediaServer2> HoldServer(bool orLocal);
  /* Lets go of the WPL record; the file stays (it is ours to replace). */
  void ReleaseWplHandle();
  /* Writes the WPL record into the folder; the file replaces the previous
   * one, which goes when its name differs. */
  bool WriteFile();

  std::string m_name;
  std::string m_serverBookmark;
  std::string m_filePath;
  uint32_t m_id;
  uint32_t m_wplHandle;
  char m_playlistBookmark[ZEL_PLAYLIST_BOOKMARK_SIZE];
  bool m_bookmarkNeedsRefresh;
};

class ZelMediaItemPlaylistList {
 public:
  ZelMediaItemPlaylistList() = default;
  ZelMediaItemPlaylistList(const ZelMediaItemPlaylistList &) = delete;
  ZelMediaItemPlaylistList &operator=(const ZelMediaItemPlaylistList &) = delete;
  /* Destroys the playlists it holds (their files stay). */
  virtual ~ZelMediaItemPlaylistList();

  uint32_t Count() const { return static_cast<uint32_t>(m_playlists.size()); }
  ZelMediaItemPlaylist *GetPlaylist(uint32_t index) const;
  ZelMediaItemPlaylist *FindPlaylistByName(const char *name) const;
  ZelMediaItemPlaylist *FindPlaylistById(uint32_t id) const;
  /* The playlist (other than except) whose file key equals name's, or none. */
  ZelMediaItemPlaylist *FindPlaylistByFileKey(const char *name, const ZelMediaItemPlaylist *except) const;
  /* Appends (the list takes it); false for null. */
  bool AddPlaylist(ZelMediaItemPlaylist *playlist);
  /* Removes it, deletes its file and server copy, destroys it; false when
   * it is not in the list. */
  bool RemovePlaylist(ZelMediaItemPlaylist *playlist);

  /* The local list, loaded from the playlists folder on first call. */
  static ZelMediaItemPlaylistList *LoadListFromDisk();
  /* The local list when it was loaded, else none. */
  static ZelMediaItemPlaylistList *GetListFromDisk();
  static void Cleanup();

 private:
  std::vector<ZelMediaItemPlaylist *> m_playlists;
  static ZelMediaItemPlaylistList *s_listFromDisk;
};

#endif
