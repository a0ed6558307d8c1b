// The queue commands of kestrel-nmc on the queue of the tool's renderer
// context, and the live queue events of that context.
#ifndef TOOLS_KESTREL_NMC_QUEUE_COMMANDS_H
#define TOOLS_KESTREL_NMC_QUEUE_COMMANDS_H

#include <stdint.h>

#include <string>

// Runs a queue command; false when the line is none.
bool queue_commands_run(uint32_t context, const std::string &command, void (*print)(const std::string &));
// Prints the context's queue events ("queue    ctx N Playing 1 pending 2").
void queue_commands_listen(uint32_t context, void (*print)(const std::string &));
const char *queue_commands_help(void);

#endif
