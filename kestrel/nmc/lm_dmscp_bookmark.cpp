// Bookmarks of server contexts: taking one of the object under the cursor
// and putting a context back at a bookmarked place, rebuilding its levels.
// Everything a bookmark needs from the server is asked before the stack
// changes, so a failed bookmark leaves the context where it was.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/upnp_log.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_devices.h"

namespace {

bool parse_uint(const std::string &text, uint32_t *out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

struct LevelParts {
  uint32_t index = 0;
  int type = NMC_LEVEL_CONTAINER;
  std::string title, object_id, criteria;
};

// The level groups of a bookmark's rest and the level count after "|";
// false when the rest is malformed.
bool parse_rest(const std::vector<std::string> &rest, std::vector<LevelParts> *levels, uint32_t *expected) {
  *expected = 0;
  if (rest.empty()) return true;
  const std::string &last = rest.back();
  if (last.empty() || last[0] != '|' || !parse_uint(last.substr(1), expected)) return false;
  if ((rest.size() - 1) % 5 != 0) return false;
  for (size_t i = 0; i + 1 < rest.size(); i += 5) {
    LevelParts level;
    uint32_t type = 0;
    if (!parse_uint(rest[i], &level.index) || !parse_uint(rest[i + 1], &type)) return false;
    if (type != NMC_LEVEL_CONTAINER && type != NMC_LEVEL_SEARCH && type != NMC_LEVEL_BOOKMARK) return false;
    level.type = static_cast<int>(type);
    level.title = rest[i + 2];
    level.object_id = rest[i + 3];
    level.criteria = rest[i + 4];
    levels->push_back(level);
  }
  return true;
}

lm_nmc_result_t title_of(int server, const std::string &id, std::string *title) {
  nmc_dms_reply reply;
  lm_nmc_result_t result = nmc_dms_browse(server, id, "BrowseMetadata", "dc:title", "", 0, 1, &reply);
  if (result != LM_NMC_OK) return result == LM_NMC_NOT_FOUND ? 701 : result;
  const char *text = upnp_xml_find_tag_value(reply.objects[0]->children, "dc:title");
  if (text == nullptr) return 7;
  *title = text;
  return LM_NMC_OK;
}

// Appends a bookmark part with "," and "\\" escaped (as
// nmc_bookmark_escape writes it).
void append_part(std::string *out, std::string_view part) {
  size_t from = 0;
  for (;;) {
    const size_t at = part.find_first_of(",\\", from);
    out->append(part.data() + from, (at == std::string_view::npos ? part.size() : at) - from);
    if (at == std::string_view::npos) return;
    out->push_back('\\');
    out->push_back(part[at]);
    from = at + 1;
  }
}

template <typename Number>
void append_number(std::string *out, Number value) {
  char digits[24];
  const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, written.ptr);
}

}  // namespace

void nmc_dms_stand_on_server(nmc_dms_state &state, int server) {
  state.cut_to_servers();
  nmc_dms_level &bottom = state.top();
  bottom.drop_current();
  int position = nmc_devices_position(NMC_SIDE_SERVER, server);
  if (position >= 0) bottom.index = static_cast<uint32_t>(position);
  if (state.server != server) {
    nmc_device_view device;
    nmc_dms_server info;
    state.server = server;
    state.server_udn = nmc_devices_find(NMC_SIDE_SERVER, server, &device) ? device.udn : std::string();
    state.update_id = nmc_dms_server_get(server, &info) ? info.update_id : 0;
  }
}

lm_nmc_result_t nmc_dms_bookmark(nmc_dms_state &state, bool with_id, std::string *bookmark) {
  upnp_xml_node *object = nullptr;
  lm_nmc_result_t result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) return result;
  if (state.top().type == NMC_LEVEL_SERVERS) {
    *bookmark = nmc_bookmark_escape(state.server_udn) + ",0";
    return LM_NMC_OK;
  }
  // Appended in place, parts escaped as they are copied and numbers
  // written without a string of their own: a feed asks this for every entry
  // of its page.
  std::string text;
  text.reserve(256);
  append_part(&text, state.server_udn);
  text += ',';
  if (with_id) {
    const char *id = upnp_xml_find_attribute_value(object, "id");
    if (id == nullptr) return 7;
    append_part(&text, id);
  } else {
    text += '-';
  }
  for (size_t i = 1; i < state.levels.size(); ++i) {
    const nmc_dms_level &level = *state.levels[i];
    text += ',';
    append_number(&text, level.index);
    text += ',';
    append_number(&text, level.type);
    text += ',';
    append_part(&text, level.title);
    text += ',';
    append_part(&text, level.object_id);
    text += ',';
    append_part(&text, level.criteria);
  }
  text += ",|";
  append_number(&text, state.levels.size());
  *bookmark = std::move(text);
  return LM_NMC_OK;
}

lm_nmc_result_t nmc_dms_go_object(nmc_dms_state &state, int server, const std::string &object_part,
                                  const std::vector<std::string> &rest, bool go_into) {
  std::vector<LevelParts> levels;
  uint32_t expected = 0;
  if (!parse_rest(rest, &levels, &expected)) return LM_NMC_INVALID_PARAMETER;
  nmc_dms_reply fetched;
  lm_nmc_result_t result;
  uint32_t at_index = 0;
  if (object_part == "-") {
    if (levels.empty()) return LM_NMC_INVALID_PARAMETER;
    const LevelParts &last = levels.back();
    nmc_dms_level &top = state.top();
    if (top.type != NMC_LEVEL_SERVERS && state.server == server && top.object_id == last.object_id) {
      top.drop_current();
      top.index = last.index;
      return LM_NMC_OK;
    }
    at_index = last.index;
    result = nmc_dms_browse(server, last.object_id, "BrowseDirectChildren", "*", state.sort, last.index, 1, &fetched);
  } else {
    result = nmc_dms_browse(server, object_part, "BrowseMetadata", "*", "", 0, 1, &fetched);
  }
  if (result != LM_NMC_OK) return result;
  upnp_xml_node *object = fetched.objects[0];
  const bool enter = go_into && object->name != nullptr && std::strcmp(object->name, "container") == 0;
  const char *parent = upnp_xml_find_attribute_value(object, enter ? "id" : "parentID");
  if (parent == nullptr) return 7;
  const std::string parent_id = parent;

  bool rebuild = !levels.empty();
  if (rebuild && (levels.size() > NMC_DMS_MAX_BOOKMARK_LEVELS || expected == 0 || levels.size() + 1 != expected)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_dms_go_object",
                  "NMC: Cannot recover bookmark levels, expected %u levels, restored: %u", expected,
                  static_cast<unsigned>(levels.size() > NMC_DMS_MAX_BOOKMARK_LEVELS ? 0 : levels.size() + 1));
    rebuild = false;
  }
  std::string parent_title;
  if (!rebuild) {
    result = title_of(server, parent_id, &parent_title);
    if (result != LM_NMC_OK) return result;
  }

  // From here on nothing is asked of the server: the stack changes.
  nmc_dms_stand_on_server(state, server);
  if (rebuild) {
    for (const LevelParts &parts : levels) {
      nmc_dms_level &level = nmc_dms_push(state, parts.type, parts.title, parts.object_id);
      level.index = parts.index;
      level.criteria = parts.criteria;
    }
    nmc_dms_level &top = state.top();
    if (object_part != "-") at_index = top.index;
    top.index = at_index;
    top.page_tree = std::move(fetched.didl);
    top.page.assign(1, object);
    top.page_first = at_index;
    top.current = object;
    top.current_index = at_index;
    return LM_NMC_OK;
  }
  nmc_dms_level &level = nmc_dms_push(state, NMC_LEVEL_BOOKMARK, parent_title, parent_id);
  if (!enter) {
    nmc_xml_tree copy(upnp_xml_copy_node(object));
    if (!copy) return LM_NMC_OUT_OF_MEMORY;
    level.current_owned = std::move(copy);
    level.current = level.current_owned.get();
    level.current_index = 0;
  }
  return LM_NMC_OK;
}

lm_nmc_result_t nmc_dms_go_bookmark(nmc_dms_state &state, const char *bookmark) {
  if (bookmark == nullptr) return LM_NMC_INVALID_PARAMETER;
  std::vector<std::string> parts = nmc_bookmark_split(bookmark);
  if (parts.size() < 2) return LM_NMC_INVALID_PARAMETER;
  if (parts[0] == ".") return nmc_dms_go_wellknown(state, bookmark);
  nmc_device_view device;
  if (parts[0].empty() || !nmc_devices_find_udn(NMC_SIDE_SERVER, parts[0].c_str(), &device)) return 3;
  std::vector<std::string> rest(parts.begin() + 2, parts.end());
  if (device.removed || (parts[1] == "0" && rest.empty())) {
    nmc_dms_stand_on_server(state, device.index);
    return LM_NMC_OK;
  }
  return nmc_dms_go_object(state, device.index, parts[1], rest, false);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_bookmark(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  return nmc_dms_with_context(context, [size, buffer](nmc_dms_state &state) {
    std::string text;
    lm_nmc_result_t result = nmc_dms_bookmark(state, true, &text);
    return result != LM_NMC_OK ? result : nmc_out_text(text.c_str(), size, buffer);
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_temp_bookmark(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  return nmc_dms_with_context(context, [size, buffer](nmc_dms_state &state) {
    std::string text;
    lm_nmc_result_t result = nmc_dms_bookmark(state, false, &text);
    return result != LM_NMC_OK ? result : nmc_out_text(text.c_str(), size, buffer);
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_go_bookmark(uint32_t context, const char *bookmark) {
  if (bookmark == nullptr || bookmark[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  std::string text = bookmark;
  return nmc_dms_with_context(context,
                              [&text](nmc_dms_state &state) { return nmc_dms_go_bookmark(state, text.c_str()); });
}
