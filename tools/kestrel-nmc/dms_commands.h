// kestrel-nmc's server cursor commands on the tool's server context.
#ifndef TOOLS_KESTREL_NMC_DMS_COMMANDS_H
#define TOOLS_KESTREL_NMC_DMS_COMMANDS_H

#include <stdint.h>

#include <string>

// Runs command when it is one of the server cursor commands, printing each
// output line through print; false when it is not one of them.
bool dms_command(const std::string &command, uint32_t context, void (*print)(const std::string &line));

#endif
