// The -g and -m views of one process and the -s module summary.
#include "listing.h"
#include "options.h"
#include "quiet_format.h"
#include "wildcard.h"

namespace zel {

bool Listing::ModeView(const ProcessRecord& record, int& match_count) {
  if (o_.mode != 'g' && o_.mode != 'm') return false;
  if ((record.flags & kDetailsUnavailable) != 0) return true;  // nothing to show, not counted
  const bool q = o_.quiet;
  if (o_.mode == 'g') {
    if (!q) {
      std::fprintf(out_, "  Environment information for  '%s' (%d)\n", record.name,
                   static_cast<int>(record.process_id));
    }
    source_.ReadEnvironment(record, [&](const char* variable) {
      std::fprintf(out_, QuietFormat("%-15s\n", q), variable);
    });
  } else {
    if (!q) {
      std::fprintf(out_, "  Module information for  '%s'(%d)\n", record.name,
                   static_cast<int>(record.process_id));
      std::fprintf(out_, "  %-15s %-8s %-8s %s\n", "MODULE", "BASE", "SIZE", "PATH");
    }
    // Addresses are shown at the full width of the platform's pointers.
    const bool wide = sizeof(void*) > 4;
    source_.EnumerateModules(record.process_id, [&](const ModuleEntry& module) {
      const unsigned long long base = module.base;
      const unsigned long long size = module.size;
      if (o_.extended) {
        char version[kVersionTextSize];
        source_.ReadVersionStrings(module.path, version);
        std::fprintf(out_,
                     QuietFormat(wide ? "%-15s %16llx %8llu %-40s %s\n"
                                      : "%-15s %8llx %8llu %-40s %s\n",
                                 q),
                     module.name, base, size, module.path, version);
      } else {
        std::fprintf(out_,
                     QuietFormat(wide ? "%-15s %16llx %8llu %s\n" : "%-15s %8llx %8llu %s\n", q),
                     module.name, base, size, module.path);
      }
    });
  }
  ++match_count;
  return true;
}

void Listing::TallyModules(const char* pattern, const ProcessRecord& record) {
  source_.EnumerateModules(record.process_id, [&](const ModuleEntry& module) {
    if (WildcardMatch(module.name, pattern)) tally_.Add(module);
  });
}

void Listing::PrintSummary() {
  // The summary decides the found flag, even over an earlier pattern's.
  o_.found = !tally_.empty();
  tally_.PrintAndClear(out_, o_.quiet);
  std::fputc('\n', out_);
}

}  // namespace zel
