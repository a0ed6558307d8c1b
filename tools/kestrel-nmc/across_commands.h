// kestrel-nmc's commands across devices: handoff FROM TO (renderers by UDN
// or list position) and search-all QUERY [ROWS] (servers, then the first
// ROWS merged rows, default 20).
#ifndef TOOLS_KESTREL_NMC_ACROSS_COMMANDS_H
#define TOOLS_KESTREL_NMC_ACROSS_COMMANDS_H

#include <string>

// Runs command when it is one of these, printing through print; false when
// it is not one of them.
bool across_command(const std::string &command, void (*print)(const std::string &line));

#endif
