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

// The parts of a command's response around its body: "<name cmdseq=...>"
// and "<Result code=...>" text, optional "<Index>", end tag.
void response_parts(const char *name, const char *cmdseq, const nmc_api_answer &answer, std::string *head,
                    std::string *tail) {
  head->append("<").append(name);
  if (cmdseq != nullptr) head->append(" cmdseq=\"").append(nmc_xml_escape(cmdseq)).append("\"");
  head->append(">");
  tail->append("<Result code=\"").append(std::to_string(answer.code)).append("\">");
  if (!answer.result_text.empty()) tail->append(answer.result_text);
  else if (answer.code == 0) tail->append("OK");
  else tail->append(nmc_xml_escape(upnp_get_errmsg(static_cast<int>(answer.code))));
  tail->append("</Result>");
  if (answer.index >= 0) tail->append("<Index>").append(std::to_string(answer.index)).append("</Index>");
  tail->append("</").append(name).append(">");
}

}  // namespace

void nmc_api_append_response(std::string *out, const char *name, const char *cmdseq, nmc_api_answer &answer) {
  // A page of a server is large: the body is copied once onto the response,
  // or, for a request's first response, not at all (the response takes the
  // body's text and the head moves in before it).
  std::string head, tail;
  response_parts(name, cmdseq, answer, &head, &tail);
  if (out->empty()) {
    answer.body.insert(0, head);
    answer.body.append(tail);
    out->swap(answer.body);
    return;
  }
  out->reserve(out->size() + head.size() + answer.body.size() + tail.size());
  out->append(head).append(answer.body).append(tail);
}

std::string nmc_api_response(const char *name, const char *cmdseq, const nmc_api_answer &answer) {
  std::string head, tail;
  response_parts(name, cmdseq, answer, &head, &tail);
  return head + answer.body + tail;
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
