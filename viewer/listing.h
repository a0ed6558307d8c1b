// What zel prints per pattern and per process: the header, the per-process
// step with its match and filters, and the deferred output after each
// enumeration.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "source/process_source.h"

namespace zel {

struct Options;
class WaitList;

class Listing {
 public:
  Listing(Options& options, ProcessSource& source, FILE* out, WaitList* wait_list);

  // Before each enumeration.
  void Header(const char* pattern);
  // Once per enumerated process.
  void Step(const char* pattern, const ProcessRecord& record);
  // After each enumeration.
  void Deferred(const char* pattern);

  // Whether the record's ID or name matches the pattern (no filters).
  bool Matches(const char* pattern, const ProcessRecord& record) const;

  // The -g or -m view of one process; false when no such mode is set.
  bool ModeView(const ProcessRecord& record);

 private:
  struct Details {
    std::optional<std::string> command_line;
    std::vector<KeptWindow> windows;
  };

  bool PassesFilters(const ProcessRecord& record, Details& details);
  void PrintProcessLine(const ProcessRecord& record, const Details& details);

  Options& o_;
  ProcessSource& source_;
  FILE* out_;
  WaitList* wait_list_;
};

}  // namespace zel
