#ifndef KESTREL_MEDIA_ZEL_MEDIA_ITEM_H
#define KESTREL_MEDIA_ZEL_MEDIA_ITEM_H

/* Media items: one playable thing each. ZelServerMediaItem2 is an object on a
 * media server (named by its server bookmark), ZelUrlMediaItem2 a web or
 * local URL; ZelYouTubeUrlMediaItem2 (zel_youtube_item.h) a video link.
 * Strings are owned copies (none allowed where stated). Items write
 * themselves as XML lines for the playlist files, values escaped. */

#include <stddef.h>

#include <ostream>

#include "media/zel_media_types.h"

class ZelMediaItem2 {
 public:
  ZelMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin);
  ZelMediaItem2(const ZelMediaItem2 &) = delete;
  ZelMediaItem2 &operator=(const ZelMediaItem2 &) = delete;

  virtual ~ZelMediaItem2();
  /* A new item of the same class and content; none when memory runs out. */
  virtual ZelMediaItem2 *Clone() = 0;
  virtual const char *GetName();
  /* "  <Item>", the attributes, "  </Item>", each line ending in a line feed. */
  virtual void SerializeToXMLStream(std::ostream &stream);
  /* Takes the other's name, type and origin (not its server bookmark). */
  virtual void Copy(ZelMediaItem2 *other);
  /* "    <Type>...</Type>", "    <Name>...</Name>", "    <ServerBookmark>...". */
  virtual void SerializeAttributesToXMLStream(std::ostream &stream);

  MEDIA_ITEM_TYPE GetType() const { return m_type; }
  MEDIA_ITEM_ORIGIN GetOrigin() const { return m_origin; }
  const char *GetServerBookmark() const { return m_serverBookmark; }
  /* Replace the owned copy; none clears. False when memory runs out. */
  bool SetName(const char *name);
  bool SetServerBookmark(const char *bookmark);

 protected:
  /* One element line "    <tag>value</tag>" with the value escaped. */
  static void WriteElement(std::ostream &stream, const char *tag, const char *value);
  /* The own name, ignoring a class's GetName. */
  const char *OwnName() const { return m_name; }

 private:
  char *m_name = nullptr;
  char *m_serverBookmark = nullptr;
  MEDIA_ITEM_TYPE m_type;
  MEDIA_ITEM_ORIGIN m_origin;
};

class ZelServerMediaItem2 : public ZelMediaItem2 {
 public:
  ZelServerMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin, const char *serverBookmark);
  ~ZelServerMediaItem2() override;
  ZelMediaItem2 *Clone() override;
  /* Only the base fields: artist, album and genre stay as they are. */
  void Copy(ZelMediaItem2 *other) override;
  void SerializeAttributesToXMLStream(std::ostream &stream) override;

  const char *GetArtist() const { return m_artist; }
  const char *GetAlbum() const { return m_album; }
  const char *GetGenre() const { return m_genre; }
  bool SetArtist(const char *artist);
  bool SetAlbum(const char *album);
  bool SetGenre(const char *genre);

  static ZelServerMediaItem2 *AllocateZelServerMediaItem2(const char *name, MEDIA_ITEM_TYPE type,
                                                          MEDIA_ITEM_ORIGIN origin, const char *serverBookmark);

 private:
  char *m_artist = nullptr;
  char *m_album = nullptr;
  char *m_genre = nullptr;
};

class ZelUrlMediaItem2 : public ZelMediaItem2 {
 public:
  ZelUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin, const char *url);
  ~ZelUrlMediaItem2() override;
  ZelMediaItem2 *Clone() override;
  /* The base fields and a copy of the other's playable URL (when the other is
   * a URL item). */
  void Copy(ZelMediaItem2 *other) override;
  void SerializeAttributesToXMLStream(std::ostream &stream) override;
  /* On the first call a copy of the URL; later calls the stored copy. */
  virtual const char *GetPlayableUrl();

  const char *GetUrl() const { return m_url; }
  bool SetUrl(const char *url);

  static ZelUrlMediaItem2 *AllocateZelUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin,
                                                    const char *url);

  /* Cuts a URL to its file extension (cutQuery: drop the query first); a
   * video link stays whole. Truncated to size; false for a null argument. */
  static bool TruncateURL(const char *url, char *out, size_t size, bool cutQuery);
  /* Turns links to thumbnails into links to the full picture (rules of the
   * configured picture sites and of media servers' thumbnail paths).
   * Truncated to size; false for a null argument. */
  static bool TranslateURL(const char *url, char *out, size_t size);

 protected:
  const char *StoredPlayableUrl() const { return m_playableUrl; }
  bool SetPlayableUrl(const char *url);

 private:
  char *m_url = nullptr;
  char *m_playableUrl = nullptr;
};

#endif
