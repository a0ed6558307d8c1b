// The renderer cursor of kestrel-nmc: renderer commands on the tool's
// renderer context, and the fake host player registered as the local
// renderer (--local-renderer).
#ifndef TOOLS_KESTREL_NMC_RENDERER_CURSOR_H
#define TOOLS_KESTREL_NMC_RENDERER_CURSOR_H

#include <stdint.h>

#include <string>

// Runs a renderer command; false when the line is none (the caller tries
// its other commands). Each result line goes to print.
bool renderer_cursor_run(uint32_t context, const std::string &command, void (*print)(const std::string &));
// The help lines of the renderer commands.
const char *renderer_cursor_help(void);

// Takes "--local-renderer" out of the arguments; true when it was there.
bool local_renderer_option(int *argc, char **argv);
// Registers the fake player as the local audio/video renderer and enables it.
void local_renderer_enable(void (*print)(const std::string &));

#endif
