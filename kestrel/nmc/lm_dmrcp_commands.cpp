// The renderer functions that read the transport state and send transport
// and rendering commands: each finds the context's renderer, then runs its
// XML command (the interpreter sends it to the network renderer or to the
// local renderer's hooks) with no context lock held.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_xml.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"

namespace {

// Finds the renderer and runs the command; the result code.
uint32_t run(uint32_t context, const char *name, const nmc_command_pairs &params, nmc_dmr_reply *reply,
             nmc_dmr_target *target = nullptr) {
  nmc_dmr_target found;
  lm_nmc_result_t result = nmc_dmr_find(context, &found);
  if (target != nullptr) *target = found;
  if (result != LM_NMC_OK) return result;
  return nmc_dmr_command(name, found.index, params, reply);
}

uint32_t run_simple(uint32_t context, const char *name, const nmc_command_pairs &params = {}) {
  nmc_dmr_reply reply;
  return run(context, name, params, &reply);
}

bool starts_with_digit(const char *text) {
  return text != nullptr && std::isdigit(static_cast<unsigned char>(text[0]));
}

// The duration the context's cached renderer metadata gives, if any.
std::string cached_duration(uint32_t context) {
  char buffer[64];
  if (lm_dmrcp_extract_metadata(context, "zel:duration", 0, sizeof buffer, buffer) == LM_NMC_OK) return buffer;
  return std::string();
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_state(uint32_t context, uint32_t *state, uint32_t position_size,
                                                          char *position, uint32_t duration_size, char *duration) {
  if (state != nullptr) *state = NMC_DMR_NO_MEDIA_PRESENT;
  if (position != nullptr && position_size > 0) position[0] = '\0';
  if (duration != nullptr && duration_size > 0) duration[0] = '\0';
  nmc_dmr_reply reply;
  nmc_dmr_target target;
  uint32_t result = run(context, "GetTransportInfo", {}, &reply, &target);
  if (result != LM_NMC_OK) return result;
  // The queue's paused slideshow on the local renderer reads as paused.
  uint32_t current = nmc_dmr_state_of(reply.value("CurrentTransportState"));
  if (current == NMC_DMR_PLAYING && nmc_queue_local_slideshow_paused(target.index)) current = NMC_DMR_PAUSED_PLAYBACK;
  if (state != nullptr) *state = current;
  const bool want_position = position != nullptr && position_size > 0;
  const bool want_duration = duration != nullptr && duration_size > 0;
  if (!want_position && !want_duration) return LM_NMC_OK;
  nmc_dmr_reply info;
  result = nmc_dmr_command("GetPositionInfo", target.index, {}, &info);
  // An action known to be broken on this renderer does not fail the call.
  if (result == NMC_DMR_BROKEN_ACTION) return LM_NMC_OK;
  if (result != LM_NMC_OK) return result;
  if (want_position) {
    const char *rel_time = info.value("RelTime");
    result = nmc_out_text(rel_time != nullptr ? rel_time : "", position_size, position);
    if (result != LM_NMC_OK) return result;
  }
  if (want_duration) {
    const char *track_duration = info.value("TrackDuration");
    std::string text = track_duration != nullptr ? track_duration : "";
    if (text.empty() || text == "NOT_IMPLEMENTED") text = cached_duration(context);
    result = nmc_out_text(text.c_str(), duration_size, duration);
  }
  return result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_pause(uint32_t context, int resume) {
  uint32_t state = NMC_DMR_NO_MEDIA_PRESENT;
  lm_nmc_result_t result = lm_dmrcp_get_state(context, &state, 0, nullptr, 0, nullptr);
  if (result != LM_NMC_OK) return result;
  switch (state) {
    case NMC_DMR_PLAYING:
    case NMC_DMR_TRANSITIONING:
    case NMC_DMR_RECORDING:
      return resume ? LM_NMC_OK : run_simple(context, "Pause");
    case NMC_DMR_PAUSED_PLAYBACK:
    case NMC_DMR_PAUSED_RECORDING:
      return resume ? run_simple(context, "Play") : LM_NMC_OK;
    default:
      return NMC_DMR_TRANSITION_NOT_AVAILABLE;
  }
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_stop(uint32_t context) { return run_simple(context, "Stop"); }

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_seek_percent(uint32_t context, uint32_t percent) {
  return run_simple(context, "SeekPct", {{"Position", std::to_string(percent > 100 ? 100 : percent)}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_seek_bytes(uint32_t context, int64_t position) {
  return run_simple(context, "SeekByte", {{"Position", std::to_string(position < 0 ? 0 : position)}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_seek_time(uint32_t context, int64_t position) {
  return run_simple(context, "SeekTime", {{"Position", std::to_string(position < 0 ? 0 : position)}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_seek_capabilities(uint32_t context, uint32_t *bits) {
  if (bits != nullptr) *bits = 0;
  nmc_dmr_reply reply;
  nmc_dmr_target target;
  uint32_t result = run(context, "GetSeekCapabilities", {}, &reply, &target);
  // The local image renderer cannot seek: no bits.
  if (target.index == 4097 && result == NMC_DMR_NOT_IMPLEMENTED) return LM_NMC_OK;
  if (result != LM_NMC_OK) return result;
  if (bits == nullptr) return LM_NMC_INVALID_PARAMETER;
  const char *caps = reply.value("SeekCaps");
  if (caps == nullptr) caps = "";
  if (std::strstr(caps, "REL_TIME") != nullptr) *bits |= NMC_DMR_SEEK_TIME;
  if (std::strstr(caps, "REL_COUNT") != nullptr || std::strstr(caps, "X_DLNA_REL_BYTE") != nullptr) {
    *bits |= NMC_DMR_SEEK_BYTES;
  }
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_volume_percent(uint32_t context, uint32_t *percent) {
  if (percent != nullptr) *percent = 0;
  nmc_dmr_reply reply;
  uint32_t result = run(context, "GetVolume", {}, &reply);
  if (result != LM_NMC_OK) return result;
  const char *value = reply.value("Value");
  if (!starts_with_digit(value)) return NMC_DMR_BAD_VALUE;
  if (percent == nullptr) return LM_NMC_INVALID_PARAMETER;
  unsigned long parsed = std::strtoul(value, nullptr, 10);
  *percent = parsed > 100 ? 100 : static_cast<uint32_t>(parsed);
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_set_volume_percent(uint32_t context, uint32_t percent) {
  return run_simple(context, "SetVolume", {{"Value", std::to_string(percent > 100 ? 100 : percent)}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_volume_db(uint32_t context, int32_t *db) {
  if (db != nullptr) *db = 0;
  nmc_dmr_reply reply;
  uint32_t result = run(context, "GetVolumeDB", {}, &reply);
  if (result != LM_NMC_OK) return result;
  const char *value = reply.value("CurrentVolume");
  if (value == nullptr || !(starts_with_digit(value) || (value[0] == '-' && starts_with_digit(value + 1)))) {
    return NMC_DMR_BAD_VALUE;
  }
  if (db == nullptr) return LM_NMC_INVALID_PARAMETER;
  *db = static_cast<int32_t>(std::strtol(value, nullptr, 10));
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_set_volume_db(uint32_t context, int32_t db) {
  return run_simple(context, "SetVolumeDB", {{"Value", std::to_string(db)}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_volume_db_range(uint32_t context, int32_t *minimum,
                                                                    int32_t *maximum) {
  if (minimum != nullptr) *minimum = 0;
  if (maximum != nullptr) *maximum = 0;
  nmc_dmr_reply reply;
  uint32_t result = run(context, "GetVolumeDBRange", {}, &reply);
  if (result != LM_NMC_OK) return result;
  if (minimum == nullptr || maximum == nullptr) return LM_NMC_INVALID_PARAMETER;
  const char *low = reply.value("MinVolume");
  const char *high = reply.value("MaxVolume");
  if (low == nullptr || high == nullptr) return NMC_DMR_BAD_VALUE;
  *minimum = static_cast<int32_t>(std::strtol(low, nullptr, 10));
  *maximum = static_cast<int32_t>(std::strtol(high, nullptr, 10));
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_mute(uint32_t context, int *on) {
  if (on != nullptr) *on = 0;
  nmc_dmr_reply reply;
  uint32_t result = run(context, "GetMute", {}, &reply);
  if (result != LM_NMC_OK) return result;
  if (on == nullptr) return LM_NMC_INVALID_PARAMETER;
  const char *value = reply.value("Value");
  *on = value != nullptr && value[0] != '\0' && value[0] != '0' ? 1 : 0;
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_set_mute(uint32_t context, int on) {
  return run_simple(context, "SetMute", {{"Value", on ? "1" : "0"}});
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_current_transport_actions(uint32_t context, uint32_t size,
                                                                              char *buffer) {
  return lm_dmrcp_extract_metadata(context, "DmrPropCurrentTransportActions", 0, size, buffer);
}
