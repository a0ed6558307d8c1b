// Transport state and play mode names, and running a renderer command
// through the XML interpreter with its answer parsed.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/upnp_mem.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_command.h"

namespace {

const char *const k_states[] = {"STOPPED",          "PLAYING",   "TRANSITIONING",   "PAUSED_PLAYBACK",
                                "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};
const char *const k_modes[] = {"NORMAL", "SHUFFLE", "REPEAT_ONE", "REPEAT_ALL", "RANDOM", "DIRECT_1", "INTRO"};

}  // namespace

const char *nmc_dmr_state_name(uint32_t state) { return state <= 6 ? k_states[state] : nullptr; }

const char *nmc_dmr_play_mode_name(uint32_t mode) { return mode <= 6 ? k_modes[mode] : "NOT_IMPLEMENTED"; }

uint32_t nmc_dmr_state_of(const char *name) {
  if (name == nullptr) return 7;
  for (uint32_t state = 0; state <= 6; ++state) {
    if (strcasecmp(name, k_states[state]) == 0) return state;
  }
  return 7;
}

nmc_dmr_reply::~nmc_dmr_reply() { upnp_xml_release(tree); }

const char *nmc_dmr_reply::value(const char *name) const {
  if (tree == nullptr) return nullptr;
  for (upnp_xml_node *child = tree->children; child != nullptr; child = child->next) {
    if (child->name != nullptr && std::strcmp(child->name, name) == 0) return child->value != nullptr ? child->value : "";
  }
  return nullptr;
}

void nmc_dmr_run(const std::string &command, nmc_dmr_reply *reply) {
  upnp_xml_release(reply->tree);
  reply->tree = nullptr;
  reply->code = NMC_DMR_NO_RESPONSE;
  char *response = lm_nmc_api_query(command.c_str(), 1);
  if (response == nullptr) return;
  reply->tree = upnp_xml_parse(response);
  upnp_free_impl(response);
  if (reply->tree == nullptr) return;
  for (upnp_xml_node *child = reply->tree->children; child != nullptr; child = child->next) {
    if (child->name == nullptr || std::strcmp(child->name, "Result") != 0) continue;
    const char *code = upnp_xml_find_attribute_value(child, "code");
    reply->code = code != nullptr && code[0] >= '0' && code[0] <= '9'
                      ? static_cast<uint32_t>(std::strtoul(code, nullptr, 10))
                      : LM_NMC_INVALID_PARAMETER;
    return;
  }
  reply->code = LM_NMC_INVALID_PARAMETER;
}

uint32_t nmc_dmr_command(const char *name, int index, const nmc_command_pairs &params, nmc_dmr_reply *reply) {
  nmc_command_pairs all;
  all.emplace_back("RendererIndex", std::to_string(index));
  all.insert(all.end(), params.begin(), params.end());
  nmc_dmr_run(nmc_command_text(name, {}, all), reply);
  return reply->code;
}
