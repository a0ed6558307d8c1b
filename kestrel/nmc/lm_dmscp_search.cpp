// Searching from a server context, its sort option, and what the context's
// server tells about itself (capabilities, device information).
#include <cstring>

#include "base/upnp_mem.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_api.h"

namespace {

// The server the context stands on (read from the server list when the
// cursor is there); -1 for none.
int context_server(nmc_dms_state &state) {
  if (state.top().type == NMC_LEVEL_SERVERS) {
    upnp_xml_node *object = nullptr;
    if (nmc_dms_current(state, &object) != LM_NMC_OK) return -1;
  }
  return state.server;
}

lm_nmc_result_t search(nmc_dms_state &state, const std::string &query) {
  upnp_xml_node *object = nullptr;
  lm_nmc_result_t result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) return result;
  std::string container;
  if (state.top().type == NMC_LEVEL_SERVERS) {
    container = "0";
  } else {
    const char *id = upnp_xml_find_attribute_value(object, "id");
    if (object->name == nullptr || std::strcmp(object->name, "container") != 0 || id == nullptr) return 7;
    container = id;
  }
  nmc_dms_level &level = nmc_dms_push(state, NMC_LEVEL_SEARCH, "Search Results", container);
  level.criteria = nmc_dms_search_criteria(query);
  result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) state.levels.pop_back();
  return result;
}

lm_nmc_result_t capabilities(uint32_t context, bool sort, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  return nmc_dms_with_context(context, [sort, size, buffer](nmc_dms_state &state) {
    int server = context_server(state);
    if (server < 0) return 5u;
    const char *name = sort ? "GetSortCapabilities" : "GetSearchCapabilities";
    std::string command =
        std::string("<") + name + "><Index>" + std::to_string(server) + "</Index></" + name + ">";
    char *response = lm_nmc_api_query(command.c_str(), 1);
    if (response == nullptr) return 6u;
    lm_nmc_result_t result = nmc_api_result_code(response);
    nmc_xml_tree tree(upnp_xml_parse(response));
    upnp_free_impl(response);
    if (result != LM_NMC_OK) return result;
    const char *caps = tree ? upnp_xml_find_tag_value(tree->children, sort ? "SortCaps" : "SearchCaps") : nullptr;
    return nmc_out_text(caps != nullptr ? caps : "", size, buffer);
  });
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_search(uint32_t context, const char *query) {
  if (query == nullptr || query[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  std::string text = query;
  return nmc_dms_with_context(context, [&text](nmc_dms_state &state) { return search(state, text); });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_set_sort_option(uint32_t context, const char *sort) {
  std::string text = sort != nullptr ? sort : "";
  return nmc_dms_with_context(context, [&text](nmc_dms_state &state) {
    state.sort = text.empty() ? std::string() : nmc_dms_sort_criteria(text);
    nmc_dms_level &level = state.top();
    if (level.type != NMC_LEVEL_SERVERS) {
      level.drop_page();
      level.drop_current();
      level.sort = state.sort;
    }
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_sort_capabilities(uint32_t context, uint32_t size,
                                                                      char *buffer) {
  return capabilities(context, true, size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_search_capabilities(uint32_t context, uint32_t size,
                                                                        char *buffer) {
  return capabilities(context, false, size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_device_info(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  return nmc_dms_with_context(context, [size, buffer](nmc_dms_state &state) {
    int server = context_server(state);
    nmc_dms_server info;
    if (server < 0 || !nmc_dms_server_get(server, &info)) return 3u;
    std::string text = "<serverInfo>" + info.info + "</serverInfo>";
    return nmc_out_text(text.c_str(), size, buffer);
  });
}
