// The session commands of the XML interface: the session's own settings
// ("SetSessionInfo", "GetSessionInfo"), polling ("ChangePolling") and the
// draining of its event lists ("GetNetworkEvents", "GetRendererEvents",
// "GetServerEvents").
#include <cstring>

#include "base/upnp_xml.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc/lm_nmc_text.h"

namespace {

// "Polling" as "1"/"true" or "0"/"false"; false when missing or other.
bool polling_value(upnp_xml_node *command, bool *on) {
  const char *text = upnp_xml_find_tag_value(command->children, "Polling");
  if (text == nullptr) return false;
  if (std::strcmp(text, "1") == 0 || std::strcmp(text, "true") == 0) {
    *on = true;
    return true;
  }
  if (std::strcmp(text, "0") == 0 || std::strcmp(text, "false") == 0) {
    *on = false;
    return true;
  }
  return false;
}

// "Name" and "Polling", either or both; a malformed value changes nothing.
void set_session_info(upnp_xml_node *command, nmc_api_answer *answer) {
  const char *name = upnp_xml_find_tag_value(command->children, "Name");
  bool has_polling = upnp_xml_find_tag_value(command->children, "Polling") != nullptr;
  bool on = false;
  if ((name == nullptr && !has_polling) || (has_polling && !polling_value(command, &on))) {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  if ((name != nullptr && !nmc_sessions_set_name(answer->session, name)) ||
      (has_polling && !nmc_sessions_set_polling(answer->session, on))) {
    answer->code = LM_NMC_GOING_DOWN;
  }
}

void get_session_info(upnp_xml_node *, nmc_api_answer *answer) {
  nmc_session_info info;
  if (!nmc_sessions_info(answer->session, &info)) {
    answer->code = LM_NMC_GOING_DOWN;
    return;
  }
  answer->body = "<ClientID>" + nmc_xml_escape(info.api ? "TAG_LOCAL_API" : info.client.c_str()) + "</ClientID><Name>" +
                 nmc_xml_escape(info.name.c_str()) + "</Name><Polling>" + (info.polling ? "1" : "0") +
                 "</Polling><LastAccess>" + std::to_string(info.last_access) + "</LastAccess>";
}

void change_polling(upnp_xml_node *command, nmc_api_answer *answer) {
  bool on = false;
  if (!polling_value(command, &on)) {
    answer->code = LM_NMC_INVALID_PARAMETER;
    return;
  }
  if (!nmc_sessions_set_polling(answer->session, on)) answer->code = LM_NMC_GOING_DOWN;
}

void drain(nmc_session_list list, nmc_api_answer *answer) {
  for (const std::string &text : nmc_sessions_drain(answer->session, list)) answer->body += text;
}
void get_network_events(upnp_xml_node *, nmc_api_answer *a) { drain(NMC_EVENTS_NETWORK, a); }
void get_renderer_events(upnp_xml_node *, nmc_api_answer *a) { drain(NMC_EVENTS_RENDERER, a); }
void get_server_events(upnp_xml_node *, nmc_api_answer *a) { drain(NMC_EVENTS_SERVER, a); }

struct Command {
  const char *name;
  nmc_api_handler handler;
};
const Command k_commands[] = {
    {"SetSessionInfo", set_session_info},       {"GetSessionInfo", get_session_info},
    {"ChangePolling", change_polling},          {"GetNetworkEvents", get_network_events},
    {"GetRendererEvents", get_renderer_events}, {"GetServerEvents", get_server_events},
};

}  // namespace

nmc_api_handler nmc_api_find_session_command(const char *name) {
  for (const Command &command : k_commands) {
    if (std::strcmp(command.name, name) == 0) return command.handler;
  }
  return nullptr;
}
