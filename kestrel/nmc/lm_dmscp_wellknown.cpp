// Well-known bookmarks (".,music/all"): translated by the known kind of the
// context's server into a container identifier, and for the roots of the
// older server a walk down to the first container that holds items.
#include <cstring>

#include "base/upnp_log.h"
#include "nmc/lm_dmscp_internal.h"

namespace {

struct Row {
  const char *bookmark;
  const char *object_id;
};

const Row k_older[] = {
    {".,music", "0\\Music\\"},          {".,picture", "0\\Photo\\"},
    {".,video", "0\\Movie\\"},          {".,video/all", "0\\AllMovie\\"},
    {".,music/playlists", "0\\MusicPlaylists\\"}, {".,video/playlists", "0\\VideoPlaylists\\"},
    {".,picture/playlists", "0\\PhotoPlaylists\\"}, {nullptr, nullptr},
};
const Row k_root[] = {{".,music/all", "0\\Music\\"}, {".,picture/all", "0\\Photo\\"}, {nullptr, nullptr}};
const Row k_wmc[] = {
    {".,music", "1"},         {".,music/all", "4"},      {".,music/playlists", "F"}, {".,music/genre", "5"},
    {".,music/artists", "6"}, {".,music/albums", "7"},   {".,music/folders", "14"},  {".,picture", "3"},
    {".,picture/all", "B"},   {".,picture/date", "C"},   {".,picture/albums", "D"},  {".,video", "2"},
    {".,video/all", "8"},     {nullptr, nullptr},
};
const Row k_sony[] = {
    {".,picture", "PhotoRoot"},          {".,video", "VideoRoot"},
    {".,video/all", "AllVideos"},        {".,video/genre", "AllVideoGenres"},
    {".,video/folders", "AllVideoFolders"}, {".,picture/all", "AllPhotos"},
    {".,picture/date", "AllPhotoCalendars"}, {".,picture/albums", "AllPhotoAlbums"},
    {nullptr, nullptr},
};
const Row k_blackberry[] = {
    {".,music", "1"},           {".,music/all", "4"},         {".,music/playlists", "F"},
    {".,music/genre", "5"},     {".,music/artists", "6"},     {".,music/albums", "7"},
    {".,music/folders", "14"},  {".,music/rating", "101"},    {".,picture", "3"},
    {".,picture/all", "B"},     {".,picture/playlists", "11"}, {".,picture/folders", "16"},
    {".,picture/date", "C"},    {".,picture/albums", "D"},    {".,picture/keywords", "D2"},
    {".,picture/rating", "300"}, {".,video", "2"},            {".,video/all", "8"},
    {".,video/playlists", "12"}, {".,video/genre", "9"},      {nullptr, nullptr},
};

// The tables of a kind in their order of use.
std::vector<const Row *> tables_of(int kind) {
  switch (kind) {
    case 2: return {k_older, k_root};
    case 3: return {k_wmc};
    case 4: return {k_older};
    case 5: return {k_sony};
    case 6: return {k_blackberry};
    default: return {};
  }
}

// Stays in the first child container of the current level whose first entry
// is an item that is not a reference; the level itself when there is none.
void walk_to_items(nmc_dms_state &state) {
  uint32_t count = 0;
  if (nmc_dms_count(state, &count) != LM_NMC_OK) return;
  const size_t depth = state.levels.size();
  for (uint32_t i = 0; i < count; ++i) {
    nmc_dms_level &root = state.top();
    root.drop_current();
    root.index = i;
    upnp_xml_node *child = nullptr;
    if (nmc_dms_current(state, &child) != LM_NMC_OK) return;
    if (child->name == nullptr || std::strcmp(child->name, "container") != 0) continue;
    if (nmc_dms_go_directory(state) != LM_NMC_OK) continue;
    upnp_xml_node *first = nullptr;
    if (nmc_dms_current(state, &first) == LM_NMC_OK && first->name != nullptr &&
        std::strcmp(first->name, "item") == 0 && upnp_xml_find_attribute_value(first, "refID") == nullptr) {
      return;
    }
    state.levels.resize(depth);
  }
  state.top().drop_current();
  state.top().index = 0;
}

}  // namespace

bool nmc_dms_translate_wellknown(int kind, const std::string &bookmark, std::string *object_id, bool *root_walk) {
  *root_walk = false;
  for (const Row *table : tables_of(kind)) {
    for (const Row *row = table; row->bookmark != nullptr; ++row) {
      if (bookmark != row->bookmark) continue;
      *object_id = row->object_id;
      *root_walk = table == k_root;
      return true;
    }
  }
  return false;
}

std::vector<std::string> nmc_dms_wellknown_keys(int kind) {
  std::vector<const Row *> tables = kind == 1 ? std::vector<const Row *>{k_wmc} : tables_of(kind);
  std::vector<std::string> keys;
  for (const Row *table : tables) {
    for (const Row *row = table; row->bookmark != nullptr; ++row) keys.push_back(row->bookmark);
  }
  return keys;
}

lm_nmc_result_t nmc_dms_go_wellknown(nmc_dms_state &state, const std::string &bookmark) {
  if (state.top().type == NMC_LEVEL_SERVERS) {
    upnp_xml_node *object = nullptr;
    nmc_dms_current(state, &object);
  }
  nmc_dms_server server;
  if (state.server < 0 || !nmc_dms_server_get(state.server, &server)) return 3;
  std::string object_id;
  bool root_walk = false;
  if (nmc_dms_translate_wellknown(server.kind, bookmark, &object_id, &root_walk)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_dms_go_wellknown", "Translated bookmark to %s", object_id.c_str());
  } else {
    std::vector<std::string> parts = nmc_bookmark_split(bookmark);
    object_id = parts.size() > 1 ? parts[1] : std::string();
    if (object_id.empty()) return LM_NMC_INVALID_PARAMETER;
  }
  lm_nmc_result_t result = nmc_dms_go_object(state, server.index, object_id, {}, true);
  if (result == LM_NMC_OK && root_walk) walk_to_items(state);
  return result;
}
