#include "listing.h"

#include <cstring>

#include "options.h"
#include "priority.h"
#include "quiet_format.h"
#include "text.h"
#include "wait_list.h"
#include "wildcard.h"

namespace zel {

Listing::Listing(Options& options, ProcessSource& source, FILE* out, WaitList* wait_list)
    : o_(options), source_(source), out_(out), wait_list_(wait_list) {}

void Listing::Header(const char* pattern) {
  if (o_.quiet) return;
  if (o_.action == 'k') {
    std::fprintf(out_, "  Killing '%s'\n", pattern);
  } else if (o_.action == 'p') {
    std::fprintf(out_, "  Setting priority to %s for '%s'\n", PriorityName(o_.priority_class),
                 pattern);
  } else if (o_.mode == 's') {
    std::fprintf(out_, "  %-15s %5s %-8s %-8s %s\n", "MODULE", "COUNT", "BASE", "  SIZE", "PATH");
  } else if (o_.mode == 'g' || o_.mode == 'm' || o_.tree) {
    // These views print their own headings.
  } else if (o_.window_filter) {
    std::fprintf(out_, "  %-13s %8s %-8s\n", "PROCESS", "PID", "WINDOW TITLE");
  } else if (o_.extended) {
    std::fprintf(out_, "  %-13s %8s %-8s %s\n", "PROCESS", "PID", "PRIO", "PATH");
  } else if (o_.long_view) {
    std::fprintf(out_, "  %-13s %8s %-8s\n", "PROCESS", "PID", "COMMAND LINE");
  } else if (!o_.repeat) {
    std::fputc('\n', out_);
  }
}

bool Listing::Matches(const char* pattern, const ProcessRecord& record) const {
  if (o_.by_id) {
    uint32_t id = 0;
    if (!ParseUnsigned32(pattern, &id)) id = 0;
    if (id != 0) return record.process_id == id;
    return std::strcmp(pattern, "*") == 0;
  }
  if ((record.flags & kDetailsUnavailable) != 0 && !o_.tree) return false;
  return WildcardMatch(record.name, pattern);
}

bool Listing::PassesFilters(const ProcessRecord& record, Details& details) {
  if (o_.long_view) {
    details.command_line = source_.ReadCommandLine(record);
    if (!details.command_line) return false;
    if (o_.command_line_mask &&
        !WildcardMatch(details.command_line->c_str(), o_.command_line_mask->c_str())) {
      return false;
    }
  }
  if (o_.window_filter) {
    details.windows = source_.CollectWindows(
        record, o_.window_title_mask ? o_.window_title_mask->c_str() : nullptr, o_.extended);
    if (o_.action == 'c') {
      // Close together with the window filter: every kept window gets the
      // command (or the close system command) here, not in the action.
      for (const KeptWindow& kept : details.windows) {
        if (o_.close_command != 0) {
          source_.SendWindowMessage(kept.window, kCommandMessage,
                                    static_cast<uintptr_t>(o_.close_command));
        } else {
          source_.SendWindowMessage(kept.window, kSysCommandMessage, kCloseCode);
        }
      }
    }
    if (details.windows.empty()) return false;
  }
  if (o_.usage_filter) {
    bool uses = false;
    source_.EnumerateModules(record.process_id, [&](const ModuleEntry& module) {
      if (!uses && WildcardMatch(module.name, o_.module_mask)) uses = true;
    });
    if (!uses) return false;
  }
  return true;
}

void Listing::Step(const char* pattern, const ProcessRecord& record) {
  bool matched = Matches(pattern, record);
  Details details;
  if (record.process_id != 0 && matched) matched = PassesFilters(record, details);
  if (!matched) return;

  o_.found = true;
  if (wait_list_ != nullptr) wait_list_->Add(record.process_id, record.name);
  if (ModeView(record)) return;
  PrintProcessLine(record, details);
  ++o_.match_count;
}

bool Listing::ModeView(const ProcessRecord& record) {
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
  ++o_.match_count;
  return true;
}

void Listing::PrintProcessLine(const ProcessRecord& record, const Details& details) {
  const bool q = o_.quiet;
  if (o_.bare) {
    std::fprintf(out_, "%u\n", record.process_id);
    return;
  }
  std::fprintf(out_, QuietFormat("%-15s %8u ", q), record.name, record.process_id);
  if (o_.extended) {
    std::fprintf(out_, QuietFormat("%-8s %s ", q), PriorityName(record.priority_class),
                 record.path);
  }
  if (details.command_line) {
    std::fprintf(out_, QuietFormat("%s", q), details.command_line->c_str());
  }
  if (o_.window_filter) {
    if (details.windows.empty()) {
      std::fputs(QuietFormat("[] ", q), out_);
    }
    for (size_t i = 0; i < details.windows.size(); ++i) {
      const bool more = i + 1 < details.windows.size();
      const char* separator = more ? "," : (q ? "\t" : " ");
      std::fprintf(out_, QuietFormat("[%s]%s", q), details.windows[i].title.c_str(), separator);
    }
  }
  std::fputc('\n', out_);
}

void Listing::Deferred(const char* /*pattern*/) {}

}  // namespace zel
