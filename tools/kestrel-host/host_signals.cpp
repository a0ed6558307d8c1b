// Signal disposition snapshots.
#include "host_signals.h"

#include <cstring>

namespace host {

namespace {
// The flags a handler was installed with; the C library's own restorer bit
// says nothing about who installed it.
int flags(const struct sigaction &a) {
#ifdef SA_RESTORER
  return a.sa_flags & ~SA_RESTORER;
#else
  return a.sa_flags;
#endif
}
}  // namespace

SignalSnapshot take_signal_snapshot() {
  SignalSnapshot s;
  s.actions.resize(NSIG);
  for (int sig = 1; sig < NSIG; ++sig) {
    std::memset(&s.actions[sig], 0, sizeof s.actions[sig]);
    sigaction(sig, nullptr, &s.actions[sig]);
  }
  return s;
}

std::vector<std::string> compare_signals(const SignalSnapshot &before, const SignalSnapshot &after) {
  std::vector<std::string> changes;
  for (int sig = 1; sig < NSIG && sig < static_cast<int>(before.actions.size()); ++sig) {
    const struct sigaction &a = before.actions[sig];
    const struct sigaction &b = after.actions[sig];
    const char *name = sigabbrev_np(sig);
    std::string label = name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(sig);
    if (a.sa_handler != b.sa_handler) changes.push_back(label + ": handler changed");
    else if (flags(a) != flags(b)) changes.push_back(label + ": flags changed");
  }
  return changes;
}

}  // namespace host
