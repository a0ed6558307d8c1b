#include "actions.h"

#include <cstring>

#include "error_stream.h"
#include "options.h"
#include "priority.h"
#include "quiet_format.h"

namespace zel {

namespace {

// How long a killed process is waited for before waiting again (or asking).
constexpr uint32_t kKillWaitSliceMs = 5000;
// The exit code a terminated process ends with.
constexpr uint32_t kKilledExitCode = 0xFFFFFFFF;
// One answer line: 99 characters and the terminator.
constexpr int kAnswerSize = 100;

}  // namespace

bool ReadYes(FILE* in) {
  char answer[kAnswerSize] = {};
  if (std::fgets(answer, sizeof answer, in) == nullptr) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

Actions::Actions(Options& options, ProcessSource& source, ErrorStream& errors, FILE* out,
                 FILE* in)
    : o_(options), source_(source), errors_(errors), out_(out), in_(in) {}

bool Actions::Run(uint32_t process_id, const char* name,
                  const std::optional<std::string>& command_line, int& match_count) {
  switch (o_.action) {
    case 'a':
      Activate(process_id, name, match_count);
      return true;
    case 'c':
      // With the window filter every kept window already got the command
      // while the titles were collected.
      if (!o_.window_filter) Close(process_id, name, match_count);
      return true;
    case 'k':
      // Never the viewer itself: its own name or command line may match
      // (`zel -k -l* x` matches its own command line), and killing itself
      // would leave the rest of the pass undone.
      if (process_id == source_.CurrentProcessId()) return true;
      if (Kill(command_line ? command_line->c_str() : name, process_id)) ++match_count;
      return true;
    case 'p':
      SetPriority(process_id, name, match_count);
      return true;
    default:
      return false;
  }
}

void Actions::NoWindow(const char* name) {
  errors_.Printf("zel: Process '%s' doesn't contain any windows which I could send a message.\n",
                 name);
}

void Actions::Activate(uint32_t process_id, const char* name, int& match_count) {
  const WindowId window = source_.FindMainWindow(process_id);
  if (window == 0) {
    NoWindow(name);
    return;
  }
  if ((source_.WindowStyle(window) & kMinimizedStyle) != 0) {
    source_.SendWindowMessage(window, kSysCommandMessage, kRestoreCode);
  }
  source_.SetForegroundWindow(window);
  ++match_count;
}

void Actions::Close(uint32_t process_id, const char* name, int& match_count) {
  const WindowId window = source_.FindMainWindow(process_id);
  if (window == 0) {
    NoWindow(name);
    return;
  }
  const int32_t command = o_.close_command;
  if (command == 0) {
    source_.SendWindowMessage(window, kSysCommandMessage, kCloseCode);
  } else if (command > 0) {
    source_.SendWindowMessage(window, kCommandMessage, static_cast<uintptr_t>(command));
  } else {
    // -c-32 sends the system command 0xF020; computed in 64 bits so that
    // no negative number overflows.
    const int64_t code = static_cast<int64_t>(kSysCommandBase) - static_cast<int64_t>(command);
    source_.SendWindowMessage(window, kSysCommandMessage, static_cast<uintptr_t>(code));
  }
  ++match_count;
}

void Actions::SetPriority(uint32_t process_id, const char* name, int& match_count) {
  const ProcessHandle process = source_.OpenProcess(kSetInformationAccess, process_id);
  if (process == 0) {
    errors_.Printf("zel: Can't access '%s'\n", name);
    return;
  }
  const bool set = source_.SetPriorityClass(process, o_.priority_class);
  if (!set) {
    errors_.Printf("zel: Process '%s' Can't set a new priority class for '%s'\n", name,
                   PriorityName(o_.priority_class));
  }
  source_.CloseProcess(process);
  if (!set) return;
  std::fprintf(out_, QuietFormat("%-15s (%u)\n", o_.quiet), name, process_id);
  ++match_count;
}

bool Actions::Ask(const char* format, const char* display, uint32_t process_id) {
  std::fprintf(out_, format, display, process_id);
  std::fflush(out_);
  return ReadYes(in_);
}

bool Actions::Kill(const char* display, uint32_t process_id) {
  if (!o_.force && !Ask("zel: Kill %s (%u)?", display, process_id)) return false;
  const ProcessHandle process = source_.OpenProcess(kTerminateAccess, process_id);
  if (process == 0) {
    errors_.Printf("zel: Access to '%s' is denied.\n", display);
    return false;
  }
  bool killed = source_.TerminateProcess(process, kKilledExitCode);
  if (!killed) {
    errors_.Printf("zel: Process '%s' can not be terminated.\n", display);
  } else if (!o_.extended) {
    for (;;) {
      const WaitResult waited = source_.WaitForProcess(process, kKillWaitSliceMs);
      if (waited.outcome != WaitOutcome::kTimeout) break;
      if (o_.force) continue;
      if (!Ask("zel: Continue waiting for process %s (%u)?", display, process_id)) {
        errors_.Printf("zel: Process '%s' can not be terminated.\n", display);
        killed = false;
        break;
      }
    }
  }
  source_.CloseProcess(process);
  if (killed && o_.force) std::fprintf(out_, "%-15s (%u)\n", display, process_id);
  return killed;
}

}  // namespace zel
