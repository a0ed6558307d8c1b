// The operations the renderer side routes to a local renderer: each takes
// a copy of the hook (under the renderer's lock) and calls it with no lock
// held; 13 when the renderer is disabled or the hook is missing.
#include <cstring>
#include <vector>

#include "nmc/lm_ldmr_internal.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_text.h"
#include "nmc/lm_nmc_queue.h"

namespace {

const lm_nmc_result_t k_not_supported = 13;
const lm_nmc_result_t k_illegal_seek = 710;

// A text hook's answer, growing the buffer while it answers 10 (up to
// `limit` bytes).
template <typename Call>
lm_nmc_result_t read_text(Call call, std::string *text, size_t start = 1024, size_t limit = 65536) {
  text->clear();
  for (size_t size = start;; size *= 2) {
    std::vector<char> buffer(size, '\0');
    lm_nmc_result_t result = call(static_cast<uint32_t>(size), buffer.data());
    if (result == 10 && size * 2 <= limit) continue;
    if (result == 0) {
      buffer.back() = '\0';
      *text = buffer.data();
    }
    return result;
  }
}

}  // namespace

lm_nmc_result_t nmc_ldmr_get_state(int index, nmc_ldmr_state *state) {
  *state = nmc_ldmr_state();
  lm_ldmr_state_hook hook = nmc_ldmr_hooks_of(index).get_state;
  if (hook == nullptr) return k_not_supported;
  lm_nmc_result_t result =
      hook(&state->state, &state->position_ms, &state->duration_ms, &state->byte_position, &state->byte_size);
  // The host's position corrects the start time of the queue's entry.
  if (result == LM_NMC_OK && state->state > 0) nmc_queue_local_position(index, state->position_ms);
  return result;
}

lm_nmc_result_t nmc_ldmr_play(int index) {
  lm_ldmr_action_hook hook = nmc_ldmr_hooks_of(index).play;
  return hook != nullptr ? hook() : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_pause(int index, int resume) {
  lm_ldmr_pause_hook hook = nmc_ldmr_hooks_of(index).pause;
  return hook != nullptr ? hook(resume) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_stop(int index) {
  lm_ldmr_action_hook hook = nmc_ldmr_hooks_of(index).stop;
  return hook != nullptr ? hook() : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_skip(int index, bool forward) {
  nmc_ldmr_hooks hooks = nmc_ldmr_hooks_of(index);
  lm_ldmr_action_hook hook = forward ? hooks.next : hooks.previous;
  return hook != nullptr ? hook() : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_seek_time(int index, uint64_t ms) {
  lm_ldmr_seek_hook hook = nmc_ldmr_hooks_of(index).seek_time;
  return hook != nullptr ? hook(ms) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_seek_bytes(int index, uint64_t bytes) {
  lm_ldmr_seek_hook hook = nmc_ldmr_hooks_of(index).seek_bytes;
  return hook != nullptr ? hook(bytes) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_seek_capabilities(int index, uint32_t *bits) {
  *bits = 0;
  nmc_ldmr_hooks hooks = nmc_ldmr_hooks_of(index);
  if (nmc_ldmr_renderer_of(index) == nullptr || nmc_ldmr_renderer_of(index)->image) return k_not_supported;
  if (hooks.seek_time != nullptr) *bits |= 1;
  if (hooks.seek_bytes != nullptr) *bits |= 2;
  return 0;
}

lm_nmc_result_t nmc_ldmr_seek_percent(int index, uint32_t percent, unsigned *kind, uint64_t *target,
                                      uint64_t *maximum) {
  *kind = 0;
  *target = 0;
  *maximum = 0;
  nmc_ldmr_hooks hooks = nmc_ldmr_hooks_of(index);
  if (hooks.seek_time == nullptr && hooks.seek_bytes == nullptr) return k_not_supported;
  if (percent > 100) percent = 100;
  if (percent == 0) {
    lm_nmc_result_t result = hooks.seek_time != nullptr ? hooks.seek_time(0) : k_not_supported;
    if (result == 0) {
      *kind = 2;
      return 0;
    }
    if (hooks.seek_bytes == nullptr) return result;
    result = hooks.seek_bytes(0);
    if (result == 0) *kind = 1;
    return result;
  }
  nmc_ldmr_state state;
  if (hooks.get_state != nullptr) {
    hooks.get_state(&state.state, &state.position_ms, &state.duration_ms, &state.byte_position, &state.byte_size);
  }
  lm_nmc_result_t result = k_illegal_seek;
  if (hooks.seek_time != nullptr && state.duration_ms > 0) {
    *target = percent * state.duration_ms / 100;
    result = hooks.seek_time(*target);
    if (result == 0) {
      *kind = 2;
      *maximum = state.duration_ms;
      return 0;
    }
    if (result != k_not_supported && result != k_illegal_seek) return result;
  }
  if (hooks.seek_bytes != nullptr && state.byte_size > 0) {
    *target = percent * state.byte_size / 100;
    result = hooks.seek_bytes(*target);
    if (result == 0) {
      *kind = 1;
      *maximum = state.byte_size;
      return 0;
    }
  }
  *target = 0;
  return result;
}

lm_nmc_result_t nmc_ldmr_get_volume(int index, uint32_t *percent) {
  *percent = 0;
  lm_ldmr_get_uint_hook hook = nmc_ldmr_hooks_of(index).get_volume_percent;
  return hook != nullptr ? hook(percent) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_set_volume(int index, uint32_t percent) {
  lm_ldmr_set_uint_hook hook = nmc_ldmr_hooks_of(index).set_volume_percent;
  return hook != nullptr ? hook(percent > 100 ? 100 : percent) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_get_volume_db(int index, int32_t *db) {
  *db = 0;
  lm_ldmr_get_int_hook hook = nmc_ldmr_hooks_of(index).get_volume_db;
  return hook != nullptr ? hook(db) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_set_volume_db(int index, int32_t db) {
  lm_ldmr_set_int_hook hook = nmc_ldmr_hooks_of(index).set_volume_db;
  return hook != nullptr ? hook(db) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_get_volume_db_range(int index, int32_t *minimum, int32_t *maximum) {
  *minimum = 0;
  *maximum = 0;
  lm_ldmr_range_hook hook = nmc_ldmr_hooks_of(index).get_volume_db_range;
  return hook != nullptr ? hook(minimum, maximum) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_get_mute(int index, int *on) {
  *on = 0;
  lm_ldmr_get_int_hook hook = nmc_ldmr_hooks_of(index).get_mute;
  if (hook == nullptr) return k_not_supported;
  int32_t value = 0;
  lm_nmc_result_t result = hook(&value);
  *on = value != 0 ? 1 : 0;
  return result;
}

lm_nmc_result_t nmc_ldmr_set_mute(int index, int on) {
  lm_ldmr_set_int_hook hook = nmc_ldmr_hooks_of(index).set_mute;
  return hook != nullptr ? hook(on != 0 ? 1 : 0) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_get_property(int index, const char *name, std::string *value) {
  value->clear();
  nmc_ldmr_hooks hooks = nmc_ldmr_hooks_of(index);
  lm_nmc_result_t result = k_not_supported;
  if (hooks.get_property != nullptr) {
    result = read_text([&](uint32_t size, char *out) { return hooks.get_property(name, size, out); }, value);
  }
  if (result != 0 && std::strcmp(name, "DmrPropBytePosition") == 0 && hooks.get_state != nullptr) {
    nmc_ldmr_state state;
    result = hooks.get_state(&state.state, &state.position_ms, &state.duration_ms, &state.byte_position,
                             &state.byte_size);
    if (result == 0) *value = std::to_string(state.byte_position);
  }
  return result;
}

lm_nmc_result_t nmc_ldmr_set_property(int index, const char *name, const char *value) {
  lm_ldmr_set_property_hook hook = nmc_ldmr_hooks_of(index).set_property;
  return hook != nullptr ? hook(name, value) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_get_play_info(int index, bool next, std::string *uri, std::string *metadata) {
  uri->clear();
  metadata->clear();
  nmc_ldmr_hooks hooks = nmc_ldmr_hooks_of(index);
  lm_ldmr_get_play_info_hook hook = next ? hooks.get_next_play_info : hooks.get_play_info;
  if (hook == nullptr) return k_not_supported;
  std::vector<char> uri_buffer(4096, '\0');
  std::vector<char> metadata_buffer(65536, '\0');
  lm_nmc_result_t result = hook(static_cast<uint32_t>(uri_buffer.size()), uri_buffer.data(),
                                static_cast<uint32_t>(metadata_buffer.size()), metadata_buffer.data());
  if (result != 0) return result;
  uri_buffer.back() = '\0';
  metadata_buffer.back() = '\0';
  *uri = uri_buffer.data();
  *metadata = metadata_buffer.data();
  return 0;
}

lm_nmc_result_t nmc_ldmr_set_play_info(int index, bool next, const char *uri, const char *metadata) {
  nmc_ldmr_hooks hooks = nmc_ldmr_hooks_of(index);
  lm_ldmr_set_play_info_hook hook = next ? hooks.set_next_play_info : hooks.set_play_info;
  return hook != nullptr ? hook(uri != nullptr ? uri : "", metadata != nullptr ? metadata : "") : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_get_protocol_info(int index, std::string *text) {
  lm_ldmr_text_hook hook = nmc_ldmr_hooks_of(index).get_protocol_info;
  if (hook == nullptr) {
    text->clear();
    return k_not_supported;
  }
  return read_text(hook, text, 4096);
}

lm_nmc_result_t nmc_ldmr_get_device_info(int index, std::string *text) {
  text->clear();
  lm_ldmr_text_hook hook = nmc_ldmr_hooks_of(index).get_device_info;
  if (hook == nullptr) return k_not_supported;
  std::string description;
  lm_nmc_result_t result = read_text(hook, &description, 8192, 8192);
  if (result != 0 || description.empty()) return result;
  *text = description;
  if (text->find("<isLocalDevice>") == std::string::npos) *text += "<isLocalDevice>true</isLocalDevice>";
  if (text->find("<isInternalDevice>") == std::string::npos) *text += "<isInternalDevice>true</isInternalDevice>";
  if (text->find("<friendlyName>") == std::string::npos) {
    *text += "<friendlyName>" + nmc_xml_escape(nmc_ldmr_name(index).c_str()) + "</friendlyName>";
  }
  return 0;
}

lm_nmc_result_t nmc_ldmr_ioctl(int index, const char *command, uint32_t size, char *out) {
  lm_ldmr_ioctl_hook hook = nmc_ldmr_hooks_of(index).ioctl;
  return hook != nullptr ? hook(command, size, out) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_icon_count(int index, uint32_t *count) {
  *count = 0;
  lm_ldmr_count_hook hook = nmc_ldmr_hooks_of(index).get_icon_count;
  return hook != nullptr ? hook(count) : k_not_supported;
}

lm_nmc_result_t nmc_ldmr_icon_info(int index, uint32_t icon, std::string *text) {
  lm_ldmr_icon_info_hook hook = nmc_ldmr_hooks_of(index).get_icon_info;
  if (hook == nullptr) {
    text->clear();
    return k_not_supported;
  }
  return read_text([&](uint32_t size, char *out) { return hook(icon, size, out); }, text);
}
