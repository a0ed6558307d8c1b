// The items' XML form, as the playlist files hold it; every value escaped.
#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "media/zel_media_item.h"

void ZelMediaItem2::WriteElement(std::ostream &stream, const char *tag, const char *value) {
  char *escaped = value ? upnp_xml_escape_cond(value, 0) : nullptr;
  stream << "    <" << tag << ">" << (escaped ? escaped : "") << "</" << tag << ">\n";
  upnp_free_impl(escaped);
}

void ZelMediaItem2::SerializeToXMLStream(std::ostream &stream) {
  stream << "  <Item>\n";
  SerializeAttributesToXMLStream(stream);
  stream << "  </Item>\n";
}

void ZelMediaItem2::SerializeAttributesToXMLStream(std::ostream &stream) {
  WriteElement(stream, "Type", ZelMediaItemTypeText(m_type));
  WriteElement(stream, "Name", GetName());
  WriteElement(stream, "ServerBookmark", m_serverBookmark);
}

void ZelServerMediaItem2::SerializeAttributesToXMLStream(std::ostream &stream) {
  ZelMediaItem2::SerializeAttributesToXMLStream(stream);
  WriteElement(stream, "ARTIST", m_artist);
  WriteElement(stream, "ALBUM", m_album);
  WriteElement(stream, "GENRE", m_genre);
}

void ZelUrlMediaItem2::SerializeAttributesToXMLStream(std::ostream &stream) {
  ZelMediaItem2::SerializeAttributesToXMLStream(stream);
  WriteElement(stream, "URL", m_url);
}
