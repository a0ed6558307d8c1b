// ZelMediaItem2, ZelServerMediaItem2 and ZelUrlMediaItem2: fields, copies,
// clones and the playable URL of a URL item.
#include "media/zel_media_item.h"

#include <new>

#include "base/upnp_mem.h"

const char *ZelMediaItemTypeText(MEDIA_ITEM_TYPE type) {
  if (type == MT_MUSIC) return "MUSIC";
  if (type == MT_PHOTO) return "PHOTO";
  return "VIDEO";
}

ZelMediaItem2::ZelMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin)
    : m_type(type), m_origin(origin) {
  upnp_strdup_replace(&m_name, name);
}

ZelMediaItem2::~ZelMediaItem2() {
  upnp_free_impl(m_name);
  upnp_free_impl(m_serverBookmark);
}

const char *ZelMediaItem2::GetName() { return m_name; }

void ZelMediaItem2::Copy(ZelMediaItem2 *other) {
  if (!other || other == this) return;
  upnp_strdup_replace(&m_name, other->m_name);
  m_type = other->m_type;
  m_origin = other->m_origin;
}

bool ZelMediaItem2::SetName(const char *name) { return upnp_strdup_replace(&m_name, name) != 0; }

bool ZelMediaItem2::SetServerBookmark(const char *bookmark) {
  return upnp_strdup_replace(&m_serverBookmark, bookmark) != 0;
}

ZelServerMediaItem2::ZelServerMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin,
                                         const char *serverBookmark)
    : ZelMediaItem2(name, type, origin) {
  SetServerBookmark(serverBookmark);
}

ZelServerMediaItem2::~ZelServerMediaItem2() {
  upnp_free_impl(m_artist);
  upnp_free_impl(m_album);
  upnp_free_impl(m_genre);
}

ZelMediaItem2 *ZelServerMediaItem2::Clone() {
  ZelServerMediaItem2 *copy = AllocateZelServerMediaItem2(OwnName(), GetType(), GetOrigin(), GetServerBookmark());
  if (copy) copy->Copy(this);
  return copy;
}

void ZelServerMediaItem2::Copy(ZelMediaItem2 *other) { ZelMediaItem2::Copy(other); }

bool ZelServerMediaItem2::SetArtist(const char *artist) { return upnp_strdup_replace(&m_artist, artist) != 0; }
bool ZelServerMediaItem2::SetAlbum(const char *album) { return upnp_strdup_replace(&m_album, album) != 0; }
bool ZelServerMediaItem2::SetGenre(const char *genre) { return upnp_strdup_replace(&m_genre, genre) != 0; }

ZelServerMediaItem2 *ZelServerMediaItem2::AllocateZelServerMediaItem2(const char *name, MEDIA_ITEM_TYPE type,
                                                                      MEDIA_ITEM_ORIGIN origin,
                                                                      const char *serverBookmark) {
  return new (std::nothrow) ZelServerMediaItem2(name, type, origin, serverBookmark);
}

ZelUrlMediaItem2::ZelUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type, MEDIA_ITEM_ORIGIN origin, const char *url)
    : ZelMediaItem2(name, type, origin) {
  upnp_strdup_replace(&m_url, url);
}

ZelUrlMediaItem2::~ZelUrlMediaItem2() {
  upnp_free_impl(m_url);
  upnp_free_impl(m_playableUrl);
}

ZelMediaItem2 *ZelUrlMediaItem2::Clone() {
  ZelUrlMediaItem2 *copy = AllocateZelUrlMediaItem2(OwnName(), GetType(), GetOrigin(), m_url);
  if (copy) copy->Copy(this);
  return copy;
}

void ZelUrlMediaItem2::Copy(ZelMediaItem2 *other) {
  ZelMediaItem2::Copy(other);
  ZelUrlMediaItem2 *url = dynamic_cast<ZelUrlMediaItem2 *>(other);
  if (url && url != this) upnp_strdup_replace(&m_playableUrl, url->m_playableUrl);
}

const char *ZelUrlMediaItem2::GetPlayableUrl() {
  if (!m_playableUrl) upnp_strdup_replace(&m_playableUrl, m_url);
  return m_playableUrl;
}

bool ZelUrlMediaItem2::SetUrl(const char *url) { return upnp_strdup_replace(&m_url, url) != 0; }

bool ZelUrlMediaItem2::SetPlayableUrl(const char *url) { return upnp_strdup_replace(&m_playableUrl, url) != 0; }

ZelUrlMediaItem2 *ZelUrlMediaItem2::AllocateZelUrlMediaItem2(const char *name, MEDIA_ITEM_TYPE type,
                                                              MEDIA_ITEM_ORIGIN origin, const char *url) {
  return new (std::nothrow) ZelUrlMediaItem2(name, type, origin, url);
}
