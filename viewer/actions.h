// What zel does to a matching process instead of listing it: kill it,
// activate or close its main window, or change its priority class.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "source/process_source.h"

namespace zel {

class ErrorStream;
struct Options;

// Reads one answer line (at most 99 characters) from in; true only when it
// begins with 'y' or 'Y'.
bool ReadYes(FILE* in);

class Actions {
 public:
  Actions(Options& options, ProcessSource& source, ErrorStream& errors, FILE* out, FILE* in);

  // Runs the action chosen on the command line for one process; adds to
  // match_count what it counts. False only when no action is set.
  bool Run(uint32_t process_id, const char* name, const std::optional<std::string>& command_line,
           int& match_count);

  // Kill routine: prompts unless -f, terminates, waits for the end unless
  // -e. True when the process was terminated.
  bool Kill(const char* display, uint32_t process_id);

 private:
  void Activate(uint32_t process_id, const char* name, int& match_count);
  void Close(uint32_t process_id, const char* name, int& match_count);
  void SetPriority(uint32_t process_id, const char* name, int& match_count);
  // Prints the prompt to standard output and reads the answer.
  bool Ask(const char* format, const char* display, uint32_t process_id);
  void NoWindow(const char* name);

  Options& o_;
  ProcessSource& source_;
  ErrorStream& errors_;
  FILE* out_;
  FILE* in_;
};

}  // namespace zel
