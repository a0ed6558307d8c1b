#include "driver.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "actions.h"
#include "command_line.h"
#include "error_stream.h"
#include "listing.h"
#include "options.h"
#include "source/process_source.h"
#include "text.h"
#include "wait_list.h"

namespace zel {

namespace {

// Longest piece of an input line handed over as one pattern.
constexpr size_t kInputPieceSize = 260;

class PassLoop {
 public:
  PassLoop(Options& options, ProcessSource& source, ErrorStream& errors,
           const DriverStreams& streams)
      : o_(options),
        source_(source),
        errors_(errors),
        streams_(streams),
        wait_list_(options, source, errors, streams.out),
        actions_(options, source, errors, streams.out, streams.in),
        listing_(options, source, streams.out, &wait_list_, &actions_) {}

  int Run() {
    for (;;) {
      const int result = Pass();
      if (!o_.repeat || o_.repeat_threshold >= result) return result;
    }
  }

 private:
  int Pass() {
    o_.match_count = 0;
    int wait_result = 0;
    if (o_.delay > 0 && !o_.wait_for_exit) {
      std::fflush(streams_.out);
      std::this_thread::sleep_for(std::chrono::milliseconds(o_.delay));
    }
    if (o_.plain_argument_count != 0 || o_.read_input) {
      for (size_t i = 0; i < o_.words.size(); ++i) {
        const std::string& word = o_.words[i];
        if (word.empty() || word[0] == '-' || word[0] == '/' || o_.used_as_argument[i]) continue;
        ProcessPattern(word.c_str());
      }
      if (o_.read_input) ReadInputPatterns();
    } else if (o_.delay != 0) {
      o_.found = true;
    } else if (o_.mode != 0 && o_.mode != 's') {
      errors_.Write("zel: Missing argument(s)\n");
      errors_.Write(kHelpHint);
      throw ProgramExit{2};
    } else {
      ProcessPattern("*");
    }
    if (o_.wait_for_exit && !wait_list_.empty()) wait_result = wait_list_.Wait();
    std::fflush(streams_.out);
    if (!o_.found) {
      errors_.Write("zel: No matching processes found\n");
      errors_.Flush();
      return 1;
    }
    return o_.negated_count ? -o_.match_count : wait_result;
  }

  void ReadInputPatterns() {
    FILE* in = o_.input_file != nullptr ? o_.input_file : streams_.in;
    char line[kInputPieceSize];
    while (std::fgets(line, sizeof line, in) != nullptr) {
      line[std::strcspn(line, "\r\n")] = '\0';
      ProcessPattern(line);
    }
  }

  void ProcessPattern(const char* pattern) {
    if (o_.by_id && std::strcmp(pattern, "*") != 0) {
      uint32_t id = 0;
      if (!ParseUnsigned32(pattern, &id) || id == 0) {
        std::fflush(streams_.out);
        errors_.Printf("\nzel: Invalid process ID '%s'\n", pattern);
        errors_.Write(kHelpHint);
        throw ProgramExit{2};
      }
    }
    listing_.Header(pattern);
    source_.EnumerateProcesses(
        [&](const ProcessRecord& record) { listing_.Step(pattern, record); });
    listing_.Deferred(pattern);
  }

  Options& o_;
  ProcessSource& source_;
  ErrorStream& errors_;
  const DriverStreams& streams_;
  WaitList wait_list_;
  Actions actions_;
  Listing listing_;
};

}  // namespace

int RunPasses(Options& options, ProcessSource& source, ErrorStream& errors,
              const DriverStreams& streams) {
  if (!source.Bind()) {
    errors.Write(kBindingMessage);
    return 3;
  }
  source.EnablePrivilege("SeDebugPrivilege", 2);
  if (options.action == 'c') {
    // A close command the platform cannot give is refused before any
    // process is looked at, not half-way through the pass.
    const std::string refusal = source.RefuseCloseCommand(options.close_command,
                                                          options.window_filter);
    if (!refusal.empty()) {
      errors.Write(refusal.c_str());
      return 2;
    }
  }
  try {
    return PassLoop(options, source, errors, streams).Run();
  } catch (const ProgramExit& exit) {
    std::fflush(streams.out);
    return exit.code;
  }
}

int RunZel(std::vector<std::string> words, ProcessSource& source, const DriverStreams& streams) {
  ErrorStream errors(streams.err);
  errors.Redirect(words);
  Options options;
  options.words = std::move(words);
  int code = 0;
  if (auto early = ParseCommandLine(options, errors, streams.out, source.IsNewerSystem())) {
    code = *early;
  } else {
    code = RunPasses(options, source, errors, streams);
  }
  std::fflush(streams.out);
  errors.Flush();
  return code;
}

}  // namespace zel
