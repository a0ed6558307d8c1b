// kestrel-nmc's queue playlist files and downloads.
#ifndef TOOLS_KESTREL_NMC_TRANSFER_COMMANDS_H
#define TOOLS_KESTREL_NMC_TRANSFER_COMMANDS_H

#include <stdint.h>

#include <string>

// Runs command when it is one of queue-export, queue-import, download,
// renderer-download or queue-download, waiting for the transfer's end and
// printing each output line through print; false when it is not one of them.
bool transfer_command(const std::string &command, uint32_t server_context, uint32_t renderer_context,
                      void (*print)(const std::string &line));

#endif
