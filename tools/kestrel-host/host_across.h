// The host's commands across devices, through the library's exported
// controller functions (looked up in the loaded library as --web does):
//   handoff FROM TO        what plays on renderer FROM moves to renderer TO
//                          (UDN or list position), at its position
//   search-all QUERY [N]   QUERY on every server; servers as they answer,
//                          then the first N merged rows (default 20)
#ifndef KESTREL_HOST_ACROSS_H
#define KESTREL_HOST_ACROSS_H

#include <string>
#include <vector>

#include "host_commands.h"
#include "host_session.h"

namespace host {

// Runs the command when it is one of these (*handled set); usage errors
// answer Status::error.
Status across_command(Session &s, const std::string &form, const std::vector<std::string> &words, int line_no,
                      bool *handled);

}  // namespace host

#endif
