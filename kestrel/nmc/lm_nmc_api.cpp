// The XML command interface: lm_nmc_api_query and lm_nmc_api_query_string
// run every command element of a request and concatenate the responses.
#include "nmc/lm_nmc_api.h"

#include <cstdlib>
#include <cstring>

#include "base/upnp_mem.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_modes.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc/lm_nmc_text.h"

namespace {

char *hand_out(const std::string &text) {
  char *copy = static_cast<char *>(upnp_malloc_impl(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

void nmc_api_append_response(std::string *out, const char *name, const char *cmdseq, const nmc_api_answer &answer) {
  // Written straight onto the request's response: a page of a server is
  // large, and every intermediate text would be one more copy of it.
  const std::string escaped_cmdseq = cmdseq != nullptr ? nmc_xml_escape(cmdseq) : std::string();
  const std::string code = std::to_string(answer.code);
  const std::string result_text =
      !answer.result_text.empty() ? answer.result_text
      : answer.code == 0          ? std::string("OK")
                                  : nmc_xml_escape(upnp_get_errmsg(static_cast<int>(answer.code)));
  const std::string index = answer.index >= 0 ? "<Index>" + std::to_string(answer.index) + "</Index>" : std::string();
  const size_t name_length = std::strlen(name);
  out->reserve(out->size() + 2 * name_length + escaped_cmdseq.size() + answer.body.size() + code.size() +
               result_text.size() + index.size() + 48);
  out->append("<").append(name);
  if (cmdseq != nullptr) out->append(" cmdseq=\"").append(escaped_cmdseq).append("\"");
  out->append(">").append(answer.body);
  out->append("<Result code=\"").append(code).append("\">").append(result_text).append("</Result>");
  out->append(index).append("</").append(name).append(">");
}

std::string nmc_api_response(const char *name, const char *cmdseq, const nmc_api_answer &answer) {
  std::string text;
  nmc_api_append_response(&text, name, cmdseq, answer);
  return text;
}

bool nmc_api_query_session(const char *xml, int session, std::string *out) {
  if (!lm_nmc_conn_init()) return false;
  if (!nmc_sessions_touch(session)) return false;
  if (xml == nullptr) xml = "";
  const size_t length = std::strlen(xml);
  std::string &response = *out;
  response.clear();
  size_t offset = 0;
  bool any = false;
  while (offset < length && !lm_nmc_is_terminating()) {
    // A session closed while an earlier command ran (a web client gone)
    // ends the request.
    if (any && !nmc_sessions_touch(session)) break;
    upnp_xml_node *command = upnp_xml_parse_len(xml + offset, length - offset);
    if (command == nullptr) break;
    offset += command->consumed > 0 ? command->consumed : length - offset;
    any = true;
    const char *name = command->name;
    const char *cmdseq = upnp_xml_find_attribute_value(command, "cmdseq");
    nmc_api_answer answer;
    answer.session = session;
    nmc_api_handler handler = nmc_is_element_name(name) ? nmc_api_find(name) : nullptr;
    if (handler != nullptr) {
      handler(command, &answer);
      nmc_api_append_response(&response, name, cmdseq, answer);
    } else if (nmc_is_element_name(name)) {
      answer.code = LM_NMC_INVALID_PARAMETER;
      answer.result_text = "Unknown command";
      nmc_api_append_response(&response, name, cmdseq, answer);
    } else {
      response += "<Result code=\"2\">Unknown command</Result>";
    }
    upnp_xml_release(command);
  }
  if (!any) response = "<Result code=\"402\">Failed to parse XML</Result>";
  return true;
}

extern "C" KESTREL_API char *lm_nmc_api_query(const char *xml, int local) {
  (void)local;  // commands are never forwarded: no stationary instance is known
  std::string response;
  if (!nmc_api_query_session(xml, NMC_API_SESSION, &response)) return nullptr;
  return hand_out(response);
}

extern "C" KESTREL_API char *lm_nmc_api_query_string(const char *xml) {
  return lm_nmc_api_query(xml, nmc_mode() == NMC_MODE_MOBILE_DIRECT ? 1 : 0);
}

uint32_t nmc_api_result_code(const char *response) {
  const char *result = response != nullptr ? std::strstr(response, "<Result code=\"") : nullptr;
  if (result == nullptr) return LM_NMC_INVALID_PARAMETER;
  const char *digits = result + std::strlen("<Result code=\"");
  if (*digits < '0' || *digits > '9') return LM_NMC_INVALID_PARAMETER;
  return static_cast<uint32_t>(std::strtoul(digits, nullptr, 10));
}

uint32_t nmc_api_run(const std::string &command) {
  char *response = lm_nmc_api_query(command.c_str(), 1);
  if (response == nullptr) return LM_NMC_GOING_DOWN;
  uint32_t code = nmc_api_result_code(response);
  upnp_free_impl(response);
  return code;
}
