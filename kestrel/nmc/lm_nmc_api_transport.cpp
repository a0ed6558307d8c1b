// "GetTransportInfo" of the XML interface: the renderer's transport state,
// status and speed as its AVTransport answers them. The renderer commands
// of the renderer side join this family from their own files.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_text.h"

namespace {

// "RendererIndex" as a non-negative number; -1 when missing or not one.
int renderer_index(upnp_xml_node *command) {
  const char *text = upnp_xml_find_tag_value(command->children, "RendererIndex");
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return -1;
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  return *end == '\0' && value <= 0x7FFFFFFF ? static_cast<int>(value) : -1;
}

void add_element(std::string *body, const char *name, const char *value) {
  if (value == nullptr) return;
  *body += std::string("<") + name + ">" + nmc_xml_escape(value) + "</" + name + ">";
}

void get_transport_info(upnp_xml_node *command, nmc_api_answer *answer) {
  int index = renderer_index(command);
  if (index < 0) {
    answer->code = LM_NMC_INVALID_INDEX;
    answer->result_text = "No index specified and no default set";
    return;
  }
  answer->index = index;
  char *state = nullptr;
  char *status = nullptr;
  char *speed = nullptr;
  answer->code = static_cast<uint32_t>(upnp_get_TransportInfo(index, &state, &status, &speed));
  if (answer->code == LM_NMC_OK) {
    add_element(&answer->body, "CurrentTransportState", state);
    add_element(&answer->body, "CurrentTransportStatus", status);
    add_element(&answer->body, "CurrentSpeed", speed);
  }
  upnp_free_impl(state);
  upnp_free_impl(status);
  upnp_free_impl(speed);
}

}  // namespace

nmc_api_handler nmc_api_find_transport_command(const char *name) {
  return std::strcmp(name, "GetTransportInfo") == 0 ? get_transport_info : nullptr;
}
