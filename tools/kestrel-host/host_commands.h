// The host's commands, typed or scripted:
//   call METHOD ARGS... [=> RESULT]   one slot by name; with "=> NS_OK" (or any
//                                     result name or code) the result is checked
//   servers, renderers, play, pause, resume, stop, vol, mute, queue, pl-list,
//   date                              short forms over the slots
//   handoff FROM TO, search-all QUERY [ROWS]   across devices (host_across.h)
//   observer add cp|renderer, observer remove NAME, observers
//   observer-sleep MS [NAME]          observers sleep MS in OnEvent
//   instance new | instance N | instances
//   expect-event /REGEX/ TIMEOUT [VAR...]
//   set VAR VALUE, sleep MS, balance, help, quit; # comments
#ifndef KESTREL_HOST_COMMANDS_H
#define KESTREL_HOST_COMMANDS_H

#include <string>

#include "host_session.h"

namespace host {

enum class Status {
  ok,
  failed,  // an expectation did not hold
  error,   // a malformed or refused line: nothing was done
  quit,
};

// Runs one line on the main thread. line_no (0 for typed lines) is used in
// messages.
Status execute(Session &session, const std::string &line, int line_no);

// Runs the main thread's queue (proxied observer calls) for ms milliseconds.
void pump_events(int ms);

}  // namespace host

#endif
