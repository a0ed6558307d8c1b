// The terminal mode (kestrel-host --terminal): for a person at a terminal.
// Servers and renderers are listed live as they come and go, numbered
// ("s1", "r1"); a server is browsed a page at a time through the
// controller's exported functions; the renderer in use is played, paused,
// stopped, sought, its volume and mute set and its queue shown; events are
// printed in words as they arrive. Ctrl-C stops a long listing, otherwise it
// ends the host cleanly (as does SIGTERM, SIGHUP or the end of the input).
// Lines that are not terminal commands go to the host's own commands
// ("call METHOD ...").
#ifndef KESTREL_HOST_TERMINAL_H
#define KESTREL_HOST_TERMINAL_H

#include "host_session.h"

namespace host {

struct TerminalOptions {
  // After this long without a server (or a renderer), say so.
  int quiet_ms = 6000;
  // How often the device lists are read again.
  int poll_ms = 1000;
  // Entries per page of a listing.
  int page_size = 20;
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every
// thread started after it (the component's among them), and starts a
// thread that waits for them; call before the component is created.
void take_stop_signals();

// Runs the terminal mode until quit, end of input or a stop signal.
void run_terminal(Session &session, const TerminalOptions &options);

}  // namespace host

#endif
