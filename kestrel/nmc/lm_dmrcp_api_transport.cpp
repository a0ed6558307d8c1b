// The renderer's transport commands of the XML interface: state, position,
// play, pause, stop, the seeks and their capabilities.
#include <cctype>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_seek.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp_api.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_text.h"

namespace {

std::string text_of(const char *text) { return text != nullptr ? text : ""; }

std::string time_text(uint64_t ms) {
  char buffer[32];
  upnp_cp_ms_to_time(ms, buffer, sizeof buffer);
  return buffer;
}

// A decimal position parameter; false when missing or no number.
bool position_param(upnp_xml_node *command, uint64_t *position) {
  const char *text = nmc_dmr_param(command, "Position");
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  *position = std::strtoull(text, nullptr, 10);
  return true;
}

void get_transport_info(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  if (nmc_ldmr_is_local(index)) {
    nmc_ldmr_state state;
    answer->code = nmc_ldmr_get_state(index, &state);
    if (answer->code != 0) return;
    nmc_dmr_answer_add(answer, "CurrentTransportState", text_of(nmc_dmr_state_name(state.state)));
    nmc_dmr_answer_add(answer, "CurrentTransportStatus", "OK");
    nmc_dmr_answer_add(answer, "CurrentSpeed", "1");
    return;
  }
  char *state = nullptr;
  char *status = nullptr;
  char *speed = nullptr;
  answer->code = static_cast<uint32_t>(upnp_get_TransportInfo(index, &state, &status, &speed));
  if (answer->code == 0) {
    nmc_dmr_answer_add(answer, "CurrentTransportState", text_of(state));
    nmc_dmr_answer_add(answer, "CurrentTransportStatus", text_of(status));
    nmc_dmr_answer_add(answer, "CurrentSpeed", text_of(speed));
  }
  upnp_free_impl(state);
  upnp_free_impl(status);
  upnp_free_impl(speed);
}

void get_position_info(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  if (nmc_ldmr_is_local(index)) {
    nmc_ldmr_state state;
    answer->code = nmc_ldmr_get_state(index, &state);
    if (answer->code != 0) return;
    std::string uri;
    std::string metadata;
    nmc_ldmr_get_play_info(index, false, &uri, &metadata);
    nmc_dmr_answer_add(answer, "Track", uri.empty() ? "0" : "1");
    nmc_dmr_answer_add(answer, "TrackDuration", time_text(state.duration_ms));
    nmc_dmr_answer_add(answer, "TrackMetaData", metadata);
    nmc_dmr_answer_add(answer, "TrackURI", uri);
    nmc_dmr_answer_add(answer, "RelTime", time_text(state.position_ms));
    nmc_dmr_answer_add(answer, "AbsTime", time_text(state.position_ms));
    return;
  }
  int track = 0;
  int rel_count = 0;
  int abs_count = 0;
  char *duration = nullptr;
  char *metadata = nullptr;
  char *uri = nullptr;
  char *rel_time = nullptr;
  char *abs_time = nullptr;
  answer->code = static_cast<uint32_t>(
      upnp_get_PositionInfo(index, &track, &duration, &metadata, &uri, &rel_time, &abs_time, &rel_count, &abs_count));
  if (answer->code == 0) {
    nmc_dmr_answer_add(answer, "Track", std::to_string(track));
    nmc_dmr_answer_add(answer, "TrackDuration", text_of(duration));
    nmc_dmr_answer_add(answer, "TrackMetaData", text_of(metadata));
    nmc_dmr_answer_add(answer, "TrackURI", text_of(uri));
    nmc_dmr_answer_add(answer, "RelTime", text_of(rel_time));
    nmc_dmr_answer_add(answer, "AbsTime", text_of(abs_time));
    nmc_dmr_answer_add(answer, "RelCount", std::to_string(rel_count));
    nmc_dmr_answer_add(answer, "AbsCount", std::to_string(abs_count));
  }
  for (char *text : {duration, metadata, uri, rel_time, abs_time}) upnp_free_impl(text);
}

void get_dlna_position_info(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  uint64_t rel = 0;
  uint64_t abs = 0;
  uint64_t size = 0;
  if (nmc_ldmr_is_local(index)) {
    nmc_ldmr_state state;
    answer->code = nmc_ldmr_get_state(index, &state);
    rel = abs = state.byte_position;
    size = state.byte_size;
  } else {
    answer->code = static_cast<uint32_t>(upnp_control_getDlnaBytePositionInfo(index, &rel, &abs, &size));
  }
  if (answer->code != 0) return;
  nmc_dmr_answer_add(answer, "RelByte", std::to_string(rel));
  nmc_dmr_answer_add(answer, "AbsByte", std::to_string(abs));
  nmc_dmr_answer_add(answer, "TrackSize", std::to_string(size));
}

// "Play": the local renderer resumes when paused. The queue's marks for a
// stop by the user and a paused slideshow are cleared first.
void play(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  nmc_queue_mark_play(index);
  if (nmc_ldmr_is_local(index)) {
    nmc_ldmr_state state;
    bool paused = nmc_ldmr_get_state(index, &state) == 0 &&
                  (state.state == NMC_DMR_PAUSED_PLAYBACK || state.state == NMC_DMR_PAUSED_RECORDING);
    answer->code = paused ? nmc_ldmr_pause(index, 1) : nmc_ldmr_play(index);
    return;
  }
  answer->code = static_cast<uint32_t>(upnp_play(index));
}

void pause(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  const bool slideshow = nmc_queue_mark_pause(index);
  answer->code = nmc_ldmr_is_local(index) ? nmc_ldmr_pause(index, 0) : static_cast<uint32_t>(upnp_pause(index));
  answer->code = nmc_queue_pause_result(index, slideshow, answer->code);
}

void stop(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  nmc_queue_mark_stop(index);
  answer->code = nmc_ldmr_is_local(index) ? nmc_ldmr_stop(index) : static_cast<uint32_t>(upnp_stop(index));
}

void seek_missing(nmc_api_answer *answer) {
  answer->code = LM_NMC_INVALID_PARAMETER;
  answer->result_text = "Seek position missing or invalid";
}

void seek_byte(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  uint64_t position = 0;
  if (!position_param(command, &position)) return seek_missing(answer);
  answer->code = nmc_ldmr_is_local(index) ? nmc_ldmr_seek_bytes(index, position)
                                          : static_cast<uint32_t>(upnp_cp_seek_rel_byte(index, position));
}

// Time seeks take milliseconds.
void seek_time(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  uint64_t position = 0;
  if (!position_param(command, &position)) return seek_missing(answer);
  answer->code = nmc_ldmr_is_local(index) ? nmc_ldmr_seek_time(index, position)
                                          : static_cast<uint32_t>(upnp_control_seek_time(index, 0, position));
}

void seek_pct(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  uint64_t percent = 0;
  if (!position_param(command, &percent) || percent > 100) return seek_missing(answer);
  unsigned kind = 0;
  uint64_t target = 0;
  uint64_t maximum = 0;
  if (nmc_ldmr_is_local(index)) {
    answer->code = nmc_ldmr_seek_percent(index, static_cast<uint32_t>(percent), &kind, &target, &maximum);
  } else {
    uint64_t duration = 0;
    uint64_t size = 0;
    answer->code = static_cast<uint32_t>(upnp_cp_seek_pct(index, static_cast<unsigned>(percent), nullptr, nullptr,
                                                          &kind, &target, &duration, &size));
    maximum = kind == UPNP_CP_SEEK_KIND_TIME ? duration : size;
  }
  if (answer->code != 0) return;
  nmc_dmr_answer_add(answer, "SeekMode", kind == UPNP_CP_SEEK_KIND_TIME ? "Time" : "Byte");
  nmc_dmr_answer_add(answer, "Position", std::to_string(target));
  nmc_dmr_answer_add(answer, "MaxPosition", std::to_string(maximum));
}

void get_seek_capabilities(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  if (nmc_ldmr_is_local(index)) {
    uint32_t bits = 0;
    answer->code = nmc_ldmr_seek_capabilities(index, &bits);
    if (answer->code != 0) return;
    std::string caps = (bits & NMC_DMR_SEEK_TIME) ? "REL_TIME" : "";
    if (bits & NMC_DMR_SEEK_BYTES) caps += caps.empty() ? "X_DLNA_REL_BYTE" : ",X_DLNA_REL_BYTE";
    nmc_dmr_answer_add(answer, "SeekCaps", caps);
    return;
  }
  char modes[1024];
  answer->code = static_cast<uint32_t>(upnp_control_getSupportedSeekModes(index, sizeof modes, modes));
  if (answer->code == 0) nmc_dmr_answer_add(answer, "SeekCaps", modes);
}

void get_current_transport_actions(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  if (nmc_ldmr_is_local(index)) {
    std::string actions;
    answer->code = nmc_ldmr_get_property(index, "DmrPropCurrentTransportActions", &actions);
    if (answer->code == 0) nmc_dmr_answer_add(answer, "Actions", actions);
    return;
  }
  char *actions = nullptr;
  answer->code = static_cast<uint32_t>(upnp_get_current_transport_actions(index, &actions));
  if (answer->code == 0) nmc_dmr_answer_add(answer, "Actions", text_of(actions));
  upnp_free_impl(actions);
}

struct Command {
  const char *name;
  nmc_api_handler handler;
};
const Command k_commands[] = {
    {"GetTransportInfo", get_transport_info},
    {"GetPositionInfo", get_position_info},
    {"GetDlnaPositionInfo", get_dlna_position_info},
    {"Play", play},
    {"Pause", pause},
    {"Stop", stop},
    {"SeekByte", seek_byte},
    {"SeekTime", seek_time},
    {"SeekPct", seek_pct},
    {"GetSeekCapabilities", get_seek_capabilities},
    {"GetCurrentTransportActions", get_current_transport_actions},
};

}  // namespace

bool nmc_dmr_command_index(upnp_xml_node *command, nmc_api_answer *answer, int *index) {
  const char *text = nmc_dmr_param(command, "RendererIndex");
  if (text == nullptr) text = nmc_dmr_param(command, "Index");
  *index = -1;
  if (text != nullptr && std::isdigit(static_cast<unsigned char>(text[0]))) {
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end == '\0' && value <= 0x7FFFFFFF) *index = static_cast<int>(value);
  }
  if (*index < 0) {
    answer->code = LM_NMC_INVALID_INDEX;
    answer->result_text = "No index specified and no default set";
    return false;
  }
  answer->index = *index;
  return true;
}

const char *nmc_dmr_param(upnp_xml_node *command, const char *name) {
  for (upnp_xml_node *child = command->children; child != nullptr; child = child->next) {
    if (child->name != nullptr && std::strcmp(child->name, name) == 0) return child->value != nullptr ? child->value : "";
  }
  return nullptr;
}

void nmc_dmr_answer_add(nmc_api_answer *answer, const char *element, const std::string &value) {
  answer->body += std::string("<") + element + ">" + nmc_xml_escape(value.c_str()) + "</" + element + ">";
}

nmc_api_handler nmc_api_find_dmr_transport_command(const char *name) {
  for (const Command &command : k_commands) {
    if (std::strcmp(command.name, name) == 0) return command.handler;
  }
  return nullptr;
}

nmc_api_handler nmc_api_find_dmr_command(const char *name) {
  if (name == nullptr) return nullptr;
  nmc_api_handler handler = nmc_api_find_dmr_transport_command(name);
  return handler != nullptr ? handler : nmc_api_find_dmr_rendering_command(name);
}
