#ifndef KESTREL_NMC_LM_NMC_API_H
#define KESTREL_NMC_LM_NMC_API_H

/* The XML command interpreter: one command element in, its response out. */

#include <stdint.h>

#include <string>

#include "base/upnp_xml.h"

/* What a command handler answers: result elements, the code, and an index
 * when the command reports one (-1: none). */
struct nmc_api_answer {
  std::string body;
  uint32_t code = 0;
  int index = -1;
  // Replaces the code's text in "<Result>" when set (plain text, no markup).
  std::string result_text;
  // The session that runs the command (set before the handler is called).
  int session = 0;
};

typedef void (*nmc_api_handler)(upnp_xml_node *command, nmc_api_answer *answer);

/* The handler of a command name (lm_nmc_api_commands.cpp); none when the
 * command is not known. */
nmc_api_handler nmc_api_find(const char *name);
/* The session and polling commands (lm_nmc_api_sessions.cpp). */
nmc_api_handler nmc_api_find_session_command(const char *name);
/* The server browsing, search and object commands (lm_dmscp_api_commands.cpp). */
nmc_api_handler nmc_api_find_dms_command(const char *name);

/* Runs a request for a session (lm_nmc_api_query runs it for the API
 * session); false when the controller cannot run or the session is
 * unknown. */
bool nmc_api_query_session(const char *xml, int session, std::string *response);

/* The response of one command: "<name cmdseq=...>" body, "<Result
 * code=...>" text, optional "<Index>", end tag. */
std::string nmc_api_response(const char *name, const char *cmdseq, const nmc_api_answer &answer);
/* The same response appended to *out; the answer's body is taken (moved,
 * or copied once). */
void nmc_api_append_response(std::string *out, const char *name, const char *cmdseq, nmc_api_answer &answer);

/* Runs one command built with nmc_command_text through the interpreter and
 * answers the code of the response's first "Result" element (2 when there
 * is none, 11 when the controller cannot run). */
uint32_t nmc_api_run(const std::string &command);
/* The code of the first "Result" element of a response; 2 without one. */
uint32_t nmc_api_result_code(const char *response);

#endif
