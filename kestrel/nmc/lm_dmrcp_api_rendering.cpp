// The renderer's rendering commands of the XML interface: volume (percent
// and dB), mute, loudness, brightness and contrast, scaled by the maximum
// of their state variable, and what a renderer can play.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp_api.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_ldmr_ops.h"

namespace {

// The maximum of a RenderingControl state variable. A maximum of 0 (or one
// that cannot be read) counts as 100: nothing is divided by it.
unsigned variable_maximum(int index, const char *variable) {
  unsigned maximum = 100;
  if (upnp_control_getRCSMaximumValue(index, variable, &maximum) != 0 || maximum == 0) maximum = 100;
  return maximum;
}

unsigned scale_to_renderer(unsigned value, unsigned maximum) {
  if (maximum == 100) return value;
  uint64_t scaled = static_cast<uint64_t>(value) * maximum / 100;
  return scaled < maximum ? static_cast<unsigned>(scaled) : maximum;
}

unsigned scale_from_renderer(unsigned value, unsigned maximum) {
  uint64_t scaled = static_cast<uint64_t>(value) * 100 / maximum;
  return scaled < 100 ? static_cast<unsigned>(scaled) : 100;
}

// The "Value" parameter when it starts with a digit (or, signed, a '-').
bool value_param(upnp_xml_node *command, nmc_api_answer *answer, bool is_signed, long long *value) {
  const char *text = nmc_dmr_param(command, "Value");
  if (text == nullptr || !(std::isdigit(static_cast<unsigned char>(text[0])) ||
                           (is_signed && text[0] == '-' && std::isdigit(static_cast<unsigned char>(text[1]))))) {
    answer->code = LM_NMC_INVALID_PARAMETER;
    answer->result_text = "No value specified";
    return false;
  }
  long long parsed = std::strtoll(text, nullptr, 10);
  *value = parsed > 0xFFFFFFFFLL ? 0xFFFFFFFFLL : parsed < -0x80000000LL ? -0x80000000LL : parsed;
  return true;
}

void cannot_receive(nmc_api_answer *answer) {
  if (answer->code != 0 && answer->result_text.empty()) answer->result_text = "Cannot receive value";
}

// A scaled percent value: Volume, Brightness or Contrast.
enum Scaled { VOLUME, BRIGHTNESS, CONTRAST };
const char *const k_variables[] = {"Volume", "Brightness", "Contrast"};
const char *const k_properties[] = {nullptr, "DmrPropBrightness", "DmrPropContrast"};

void get_scaled(upnp_xml_node *command, nmc_api_answer *answer, Scaled which) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  unsigned value = 0;
  if (nmc_ldmr_is_local(index)) {
    if (which == VOLUME) {
      uint32_t percent = 0;
      answer->code = nmc_ldmr_get_volume(index, &percent);
      value = percent;
    } else {
      std::string text;
      answer->code = nmc_ldmr_get_property(index, k_properties[which], &text);
      value = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
    }
  } else {
    int rc = which == VOLUME       ? upnp_cp_getVolume(index, &value)
             : which == BRIGHTNESS ? upnp_cp_getBrightness(index, &value)
                                   : upnp_cp_getContrast(index, &value);
    answer->code = static_cast<uint32_t>(rc);
    if (rc == 0) value = scale_from_renderer(value, variable_maximum(index, k_variables[which]));
  }
  if (answer->code != 0) return cannot_receive(answer);
  nmc_dmr_answer_add(answer, "Value", std::to_string(value));
}

void set_scaled(upnp_xml_node *command, nmc_api_answer *answer, Scaled which) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  long long value = 0;
  if (!value_param(command, answer, false, &value)) return;
  if (nmc_ldmr_is_local(index)) {
    answer->code = which == VOLUME ? nmc_ldmr_set_volume(index, static_cast<uint32_t>(value))
                                   : nmc_ldmr_set_property(index, k_properties[which], std::to_string(value).c_str());
    return;
  }
  unsigned sent = scale_to_renderer(static_cast<unsigned>(value), variable_maximum(index, k_variables[which]));
  int rc = which == VOLUME       ? upnp_set_Volume(index, sent)
           : which == BRIGHTNESS ? upnp_cp_setBrightness(index, sent)
                                 : upnp_cp_setContrast(index, sent);
  answer->code = static_cast<uint32_t>(rc);
}

void get_volume(upnp_xml_node *c, nmc_api_answer *a) { get_scaled(c, a, VOLUME); }
void set_volume(upnp_xml_node *c, nmc_api_answer *a) { set_scaled(c, a, VOLUME); }
void get_brightness(upnp_xml_node *c, nmc_api_answer *a) { get_scaled(c, a, BRIGHTNESS); }
void set_brightness(upnp_xml_node *c, nmc_api_answer *a) { set_scaled(c, a, BRIGHTNESS); }
void get_contrast(upnp_xml_node *c, nmc_api_answer *a) { get_scaled(c, a, CONTRAST); }
void set_contrast(upnp_xml_node *c, nmc_api_answer *a) { set_scaled(c, a, CONTRAST); }

void get_volume_db(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  int32_t db = 0;
  if (nmc_ldmr_is_local(index)) {
    answer->code = nmc_ldmr_get_volume_db(index, &db);
  } else {
    int value = 0;
    answer->code = static_cast<uint32_t>(upnp_getvolumedb(index, &value));
    db = value;
  }
  if (answer->code != 0) return cannot_receive(answer);
  nmc_dmr_answer_add(answer, "CurrentVolume", std::to_string(db));
}

void set_volume_db(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  long long value = 0;
  if (!value_param(command, answer, true, &value)) return;
  answer->code = nmc_ldmr_is_local(index) ? nmc_ldmr_set_volume_db(index, static_cast<int32_t>(value))
                                          : static_cast<uint32_t>(upnp_set_VolumeDB(index, static_cast<int>(value)));
}

void get_volume_db_range(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  int32_t minimum = 0;
  int32_t maximum = 0;
  if (nmc_ldmr_is_local(index)) {
    answer->code = nmc_ldmr_get_volume_db_range(index, &minimum, &maximum);
  } else {
    int low = 0;
    int high = 0;
    answer->code = static_cast<uint32_t>(upnp_getvolumedb_range(index, &low, &high));
    minimum = low;
    maximum = high;
  }
  if (answer->code != 0) return cannot_receive(answer);
  nmc_dmr_answer_add(answer, "MinVolume", std::to_string(minimum));
  nmc_dmr_answer_add(answer, "MaxVolume", std::to_string(maximum));
}

// Mute and loudness: on or off.
void get_switch(upnp_xml_node *command, nmc_api_answer *answer, bool loudness) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  int on = 0;
  if (nmc_ldmr_is_local(index)) {
    if (loudness) {
      std::string text;
      answer->code = nmc_ldmr_get_property(index, "DmrPropLoudness", &text);
      on = std::atoi(text.c_str()) != 0 ? 1 : 0;
    } else {
      answer->code = nmc_ldmr_get_mute(index, &on);
    }
  } else {
    answer->code = static_cast<uint32_t>(loudness ? upnp_cp_getLoudness(index, &on) : upnp_cp_getMute(index, &on));
  }
  if (answer->code != 0) return cannot_receive(answer);
  nmc_dmr_answer_add(answer, "Value", on != 0 ? "1" : "0");
}

void set_switch(upnp_xml_node *command, nmc_api_answer *answer, bool loudness) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  long long value = 0;
  if (!value_param(command, answer, false, &value)) return;
  int on = value != 0 ? 1 : 0;
  if (nmc_ldmr_is_local(index)) {
    answer->code = loudness ? nmc_ldmr_set_property(index, "DmrPropLoudness", on ? "1" : "0")
                            : nmc_ldmr_set_mute(index, on);
    return;
  }
  answer->code = static_cast<uint32_t>(loudness ? upnp_cp_setLoudness(index, on) : upnp_set_Mute(index, on));
}

void get_mute(upnp_xml_node *c, nmc_api_answer *a) { get_switch(c, a, false); }
void set_mute(upnp_xml_node *c, nmc_api_answer *a) { set_switch(c, a, false); }
void get_loudness(upnp_xml_node *c, nmc_api_answer *a) { get_switch(c, a, true); }
void set_loudness(upnp_xml_node *c, nmc_api_answer *a) { set_switch(c, a, true); }

// The renderer's sink protocolInfo list (the local renderer's from its hook).
uint32_t sink_list(int index, std::string *list) {
  if (nmc_ldmr_is_local(index)) return nmc_ldmr_get_protocol_info(index, list);
  char *text = nullptr;
  int rc = upnp_cp_get_protocolinfo(index, &text);
  if (rc == 0 && text != nullptr) *list = text;
  upnp_free_impl(text);
  return static_cast<uint32_t>(rc);
}

void answer_supported(nmc_api_answer *answer, const char *element, int rc) {
  if (rc != 0 && rc != UPNP_E_NOT_FOUND) {
    answer->code = static_cast<uint32_t>(rc);
    return;
  }
  answer->code = 0;
  nmc_dmr_answer_add(answer, element, rc == 0 ? "true" : "false");
}

void can_play_url(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  const char *url = nmc_dmr_param(command, "SupportsURL");
  if (url == nullptr || url[0] == '\0') {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  std::string list;
  uint32_t rc = sink_list(index, &list);
  if (rc != 0) {
    answer->code = rc;
    return;
  }
  answer_supported(answer, "URLSupported", upnp_cp_list_can_play_url(list.c_str(), url));
}

void can_play_stream(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  const char *type = nmc_dmr_param(command, "SupportsType");
  if (type == nullptr || type[0] == '\0') {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  std::string list;
  uint32_t rc = sink_list(index, &list);
  if (rc != 0) {
    answer->code = rc;
    return;
  }
  answer_supported(answer, "StreamSupported", upnp_cp_supports_types(list.c_str(), type, 0) ? 0 : UPNP_E_NOT_FOUND);
}

void can_play_object(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = -1;
  if (!nmc_dmr_command_index(command, answer, &index)) return;
  const char *server = nmc_dmr_param(command, "ServerIndex");
  const char *object = nmc_dmr_param(command, "ObjectID");
  if (server == nullptr || !std::isdigit(static_cast<unsigned char>(server[0])) || object == nullptr ||
      object[0] == '\0') {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  const int server_index = std::atoi(server);
  if (!nmc_ldmr_is_local(index)) {
    answer_supported(answer, "ObjectSupported", upnp_cp_renderer_can_play_object(index, server_index, object));
    return;
  }
  std::string list;
  uint32_t rc = sink_list(index, &list);
  if (rc != 0) {
    answer->code = rc;
    return;
  }
  upnp_xml_node *reply = nullptr;
  int browsed = upnp_control_browse_metadata(server_index, object, "*", "", &reply);
  const char *didl = browsed == 0 ? upnp_xml_find_tag_value(reply, "Result") : nullptr;
  upnp_xml_node *tree = didl != nullptr ? upnp_xml_parse(didl) : nullptr;
  int playable = tree != nullptr ? upnp_cp_choose_res(list.c_str(), 0, 0, tree, nullptr) : UPNP_E_NOT_FOUND;
  upnp_xml_release(tree);
  upnp_xml_release(reply);
  answer_supported(answer, "ObjectSupported", browsed != 0 ? browsed : playable);
}

struct Command {
  const char *name;
  nmc_api_handler handler;
};
const Command k_commands[] = {
    {"GetVolume", get_volume},
    {"SetVolume", set_volume},
    {"GetVolumeDB", get_volume_db},
    {"SetVolumeDB", set_volume_db},
    {"GetVolumeDBRange", get_volume_db_range},
    {"GetMute", get_mute},
    {"SetMute", set_mute},
    {"GetLoudness", get_loudness},
    {"SetLoudness", set_loudness},
    {"GetBrightness", get_brightness},
    {"SetBrightness", set_brightness},
    {"GetContrast", get_contrast},
    {"SetContrast", set_contrast},
    {"CanPlayObject", can_play_object},
    {"CanPlayStream", can_play_stream},
    {"CanPlayURL", can_play_url},
};

}  // namespace

nmc_api_handler nmc_api_find_dmr_rendering_command(const char *name) {
  for (const Command &command : k_commands) {
    if (std::strcmp(command.name, name) == 0) return command.handler;
  }
  return nullptr;
}
