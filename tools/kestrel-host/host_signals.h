// The process's signal dispositions, to show that loading and starting the
// component leaves them as the host set them: the library never ends or
// takes over its host.
#ifndef KESTREL_HOST_SIGNALS_H
#define KESTREL_HOST_SIGNALS_H

#include <signal.h>

#include <string>
#include <vector>

namespace host {

struct SignalSnapshot {
  std::vector<struct sigaction> actions;  // index: signal number
};

SignalSnapshot take_signal_snapshot();
// The signals whose handler or flags differ, as "SIGINT: handler changed".
std::vector<std::string> compare_signals(const SignalSnapshot &before, const SignalSnapshot &after);

}  // namespace host

#endif
