// Moving a server context's cursor: home, to an index, into a server or a
// container, to the parent (with the walk up from a container reached by a
// bookmark), and reading where it stands.
#include <cstring>

#include "base/upnp_log.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_devices.h"

nmc_dms_level &nmc_dms_push(nmc_dms_state &state, int type, const std::string &title, const std::string &object_id) {
  auto level = std::make_unique<nmc_dms_level>();
  level->type = type;
  level->title = title;
  level->object_id = object_id;
  level->sort = state.sort;
  level->update_id = state.update_id;
  state.levels.push_back(std::move(level));
  return state.top();
}

void nmc_dms_go_home(nmc_dms_state &state, bool clear_server) {
  state.cut_to_servers();
  nmc_dms_level &level = state.top();
  int position = state.server >= 0 ? nmc_devices_position(NMC_SIDE_SERVER, state.server) : -1;
  nmc_device_view removing;
  if (position >= 0) {
    level.index = static_cast<uint32_t>(position);
  } else if (state.server >= 0 && nmc_devices_find(NMC_SIDE_SERVER, NMC_REMOVED_DEVICE_INDEX, &removing) &&
             removing.index == state.server) {
    level.index = state.removal_position;
  }
  if (clear_server) {
    state.server = -1;
    state.server_udn.clear();
  }
  level.drop_current();
  // Stand on a server that can be read; step back towards the first one.
  for (;;) {
    upnp_xml_node *object = nullptr;
    if (nmc_dms_current(state, &object, true) == LM_NMC_OK || level.index == 0) return;
    level.index = level.index == NMC_DMS_REMOVED_POSITION
                      ? static_cast<uint32_t>(nmc_devices_list(NMC_SIDE_SERVER).size())
                      : level.index - 1;
    state.server = -1;
    state.server_udn.clear();
  }
}

lm_nmc_result_t nmc_dms_go_directory(nmc_dms_state &state) {
  upnp_xml_node *object = nullptr;
  lm_nmc_result_t result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) return result;
  if (state.top().type == NMC_LEVEL_SERVERS) {
    nmc_dms_push(state, NMC_LEVEL_CONTAINER, "Root", "0");
    return LM_NMC_OK;
  }
  if (object->name == nullptr || std::strcmp(object->name, "container") != 0) return 7;
  const char *id = upnp_xml_find_attribute_value(object, "id");
  const char *title = upnp_xml_find_tag_value(object->children, "dc:title");
  if (id == nullptr || title == nullptr) return 7;
  const char *child_count = upnp_xml_find_attribute_value(object, "childCount");
  // Copies first: the push may not invalidate them, but the object belongs
  // to the level below.
  std::string id_text = id, title_text = title;
  nmc_dms_level &level = nmc_dms_push(state, NMC_LEVEL_CONTAINER, title_text, id_text);
  if (child_count != nullptr && child_count[0] >= '0' && child_count[0] <= '9') {
    level.count = static_cast<uint32_t>(std::strtoul(child_count, nullptr, 10));
    level.count_known = true;
  }
  return LM_NMC_OK;
}

namespace {

// Replaces a bookmark-container level by one for its parent container.
lm_nmc_result_t bookmark_level_up(nmc_dms_state &state) {
  nmc_dms_level &level = state.top();
  nmc_dms_reply meta;
  lm_nmc_result_t result = nmc_dms_browse(state.server, level.object_id, "BrowseMetadata", "*", "", 0, 1, &meta);
  if (result != LM_NMC_OK) return result == LM_NMC_NOT_FOUND ? 701 : result;
  const char *parent = upnp_xml_find_attribute_value(meta.objects[0], "parentID");
  if (parent == nullptr) return 7;
  std::string parent_id = parent;
  nmc_dms_reply title_reply;
  result = nmc_dms_browse(state.server, parent_id, "BrowseMetadata", "dc:title", "", 0, 1, &title_reply);
  if (result != LM_NMC_OK) return result == LM_NMC_NOT_FOUND ? 701 : result;
  const char *title = upnp_xml_find_tag_value(title_reply.objects[0]->children, "dc:title");
  if (title == nullptr) return 7;
  std::string title_text = title;
  state.levels.pop_back();
  nmc_dms_push(state, NMC_LEVEL_BOOKMARK, title_text, parent_id);
  return LM_NMC_OK;
}

}  // namespace

lm_nmc_result_t nmc_dms_go_parent(nmc_dms_state &state) {
  nmc_dms_level &level = state.top();
  if (level.type == NMC_LEVEL_SERVERS) return LM_NMC_NOT_FOUND;
  if (level.type == NMC_LEVEL_BOOKMARK && level.object_id != "0") return bookmark_level_up(state);
  state.levels.pop_back();
  nmc_dms_level &now = state.top();
  if (now.type == NMC_LEVEL_SERVERS) {
    nmc_dms_go_home(state, false);
    return LM_NMC_OK;
  }
  if (now.update_id != state.update_id || now.sort != state.sort) {
    now.drop_page();
    now.drop_current();
    now.count_known = false;
  }
  now.update_id = state.update_id;
  now.sort = state.sort;
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_go_home(uint32_t context) {
  return nmc_dms_with_context(context, [](nmc_dms_state &state) {
    nmc_dms_go_home(state, false);
    return LM_NMC_OK;
  });
}

lm_nmc_result_t nmc_dms_go_index(nmc_dms_state &state, uint32_t index) {
  uint32_t count = 0;
  lm_nmc_result_t result = nmc_dms_count(state, &count);
  if (result != LM_NMC_OK) return result;
  if (index >= count) return LM_NMC_NOT_FOUND;
  nmc_dms_level &level = state.top();
  level.drop_current();
  level.index = index;
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_go_index(uint32_t context, uint32_t index) {
  return nmc_dms_with_context(context, [index](nmc_dms_state &state) { return nmc_dms_go_index(state, index); });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_index(uint32_t context, uint32_t *index) {
  if (index == nullptr) return LM_NMC_INVALID_PARAMETER;
  *index = 0;
  return nmc_dms_with_context(context, [index](nmc_dms_state &state) {
    *index = state.top().index;
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_count(uint32_t context, uint32_t *count) {
  if (count == nullptr) return LM_NMC_INVALID_PARAMETER;
  *count = 0;
  return nmc_dms_with_context(context, [count](nmc_dms_state &state) { return nmc_dms_count(state, count); });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_is_directory(uint32_t context, uint32_t *flag) {
  if (flag == nullptr) return LM_NMC_INVALID_PARAMETER;
  *flag = 0;
  return nmc_dms_with_context(context, [flag](nmc_dms_state &state) {
    upnp_xml_node *object = nullptr;
    lm_nmc_result_t result = nmc_dms_current(state, &object);
    if (result != LM_NMC_OK) return result;
    *flag = object->name != nullptr &&
                    (std::strcmp(object->name, "container") == 0 || std::strcmp(object->name, "server") == 0)
                ? 1
                : 0;
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_go_directory(uint32_t context) {
  return nmc_dms_with_context(context, [](nmc_dms_state &state) { return nmc_dms_go_directory(state); });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_go_parent(uint32_t context) {
  return nmc_dms_with_context(context, [](nmc_dms_state &state) { return nmc_dms_go_parent(state); });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_level(uint32_t context, uint32_t *depth) {
  if (depth == nullptr) return LM_NMC_INVALID_PARAMETER;
  *depth = 0;
  return nmc_dms_with_context(context, [depth](nmc_dms_state &state) {
    *depth = static_cast<uint32_t>(state.levels.size() - 1);
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_levelname(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  return nmc_dms_with_context(context, [context, size, buffer](nmc_dms_state &state) {
    if (state.top().title.empty()) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "lm_dmscp_get_levelname", "NMC: No level name for context %u",
                    context);
      return LM_NMC_NO_VALUE;
    }
    return nmc_out_text(state.top().title.c_str(), size, buffer);
  });
}
