// What zel prints per pattern and per process: the header, the per-process
// step with its match and filters, and the deferred output after each
// enumeration.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "module_tally.h"
#include "process_tree.h"
#include "source/process_source.h"

namespace zel {

struct Options;
class Actions;
class WaitList;

class Listing {
 public:
  // wait_list and actions may be null (then nothing is waited for or done).
  Listing(Options& options, ProcessSource& source, FILE* out, WaitList* wait_list,
          Actions* actions);

  // Before each enumeration.
  void Header(const char* pattern);
  // Once per enumerated process.
  void Step(const char* pattern, const ProcessRecord& record);
  // After each enumeration.
  void Deferred(const char* pattern);

  // Whether the record's ID or name matches the pattern (no filters).
  bool Matches(const char* pattern, const ProcessRecord& record) const;

  // The -g or -m view of one process; false when no such mode is set.
  // Adds to match_count what it counts.
  bool ModeView(const ProcessRecord& record, int& match_count);

 private:
  struct Details {
    std::optional<std::string> command_line;
    std::vector<KeptWindow> windows;
  };

  bool PassesFilters(const ProcessRecord& record, Details& details);
  void PrintProcessLine(const ProcessRecord& record, const Details& details);
  // Action, else mode view; false when neither handled the process.
  bool Act(const ProcessRecord& record, const std::optional<std::string>& command_line,
           int& match_count);
  // -s: the modules of one process whose names match the pattern.
  void TallyModules(const char* pattern, const ProcessRecord& record);
  void PrintSummary();
  void PrintTree(const char* pattern);
  void PrintTreeEntry(const TreeNode& node, int level);

  Options& o_;
  ProcessSource& source_;
  FILE* out_;
  WaitList* wait_list_;
  Actions* actions_;
  ProcessTree tree_;
  ModuleTally tally_;
};

}  // namespace zel
