// kestrel-nmc's upload commands on the tool's server context.
#ifndef TOOLS_KESTREL_NMC_UPLOAD_COMMANDS_H
#define TOOLS_KESTREL_NMC_UPLOAD_COMMANDS_H

#include <stdint.h>

#include <string>

// Runs command when it is one of the upload commands (upload,
// upload-chunked, upload-playlist), waiting for the transfer's end and
// printing each output line through print; false when it is not one of them.
bool upload_command(const std::string &command, uint32_t context, void (*print)(const std::string &line));

#endif
