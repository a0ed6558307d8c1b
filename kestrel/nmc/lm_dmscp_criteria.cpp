// Search and sort criteria built from the simple queries callers give:
// "title=abc&artist=xyz&exact=1&type=musicItem" and "album=descending".
#include <cstring>

#include "nmc/lm_dmscp_internal.h"

namespace {

struct Term {
  const char *key;       // as written in a query, with its "="
  const char *property;  // the ContentDirectory property
};
const Term k_terms[] = {
    {"title=", "dc:title"}, {"creator=", "dc:creator"}, {"genre=", "upnp:genre"},
    {"album=", "upnp:album"}, {"artist=", "upnp:artist"},
};

struct TypeWord {
  const char *word;
  const char *upnp_class;
};
const TypeWord k_types[] = {
    {"musicItem", "object.item.audioItem.musicTrack"},
    {"musicAlbum", "object.container.album.musicAlbum"},
    {"musicArtist", "object.container.person.musicArtist"},
    {"musicGenre", "object.container.genre.musicGenre"},
    {"photoItem", "object.item.imageItem.photo"},
    {"photoAlbum", "object.container.album.photoAlbum"},
    {"videoItem", "object.item.videoItem.movie"},
    {"playlist", "object.container.playlistContainer"},
    {"folder", "object.container.storageFolder"},
    {"container", "object.container"},
    {"item", "object.item"},
};

// The value after key in query, up to the next "&"; false when key is not
// in the query.
bool value_of(const std::string &query, const char *key, std::string *value) {
  size_t found = query.find(key);
  if (found == std::string::npos) return false;
  size_t start = found + std::strlen(key);
  size_t end = query.find('&', start);
  *value = query.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

// A value inside a double-quoted criteria string: a quote or a backslash in
// it is escaped, so it cannot end the string early.
std::string quoted(const std::string &value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string nmc_dms_search_criteria(const std::string &query) {
  const char *op = query.find("&exact=1") != std::string::npos ? "=" : "contains";
  std::string criteria;
  for (const Term &term : k_terms) {
    std::string value;
    if (!value_of(query, term.key, &value)) continue;
    if (!criteria.empty()) criteria += " and ";
    criteria += std::string("(") + term.property + " " + op + " " + quoted(value) + ")";
  }
  std::string type;
  if (value_of(query, "type=", &type)) {
    std::string upnp_class = type;
    for (const TypeWord &word : k_types) {
      if (!type.empty() && std::strstr(word.word, type.c_str()) != nullptr) {
        upnp_class = word.upnp_class;
        break;
      }
    }
    if (!criteria.empty()) criteria += " and ";
    criteria += "(upnp:class derivedfrom " + quoted(upnp_class) + ")";
  }
  return criteria.empty() ? query : criteria;
}

std::string nmc_dms_sort_criteria(const std::string &text) {
  std::string criteria;
  for (const Term &term : k_terms) {
    std::string value;
    if (!value_of(text, term.key, &value)) continue;
    if (!criteria.empty()) criteria += ",";
    criteria += (("=" + value).find("=descending") != std::string::npos ? "-" : "+");
    criteria += term.property;
  }
  return criteria.empty() ? text : criteria;
}
