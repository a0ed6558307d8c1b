#include "listing.h"

#include <cstring>

#include "actions.h"
#include "options.h"
#include "priority.h"
#include "quiet_format.h"
#include "text.h"
#include "wait_list.h"
#include "wildcard.h"

namespace zel {

Listing::Listing(Options& options, ProcessSource& source, FILE* out, WaitList* wait_list,
                 Actions* actions)
    : o_(options), source_(source), out_(out), wait_list_(wait_list), actions_(actions) {}

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
  if (o_.mode == 's' && record.process_id != 0) {
    TallyModules(pattern, record);
    ++o_.match_count;
    return;
  }
  bool matched = Matches(pattern, record);
  Details details;
  if (record.process_id != 0 && matched) matched = PassesFilters(record, details);

  if (o_.tree) {
    TreeNode node;
    node.process_id = record.process_id;
    node.parent_id = record.parent_id;
    node.name = record.name;
    node.matched = matched;
    node.command_line = std::move(details.command_line);
    tree_.Add(std::move(node));
    return;
  }
  if (!matched) return;

  o_.found = true;
  if (wait_list_ != nullptr) wait_list_->Add(record.process_id, record.name);
  if (Act(record, details.command_line, o_.match_count)) return;
  PrintProcessLine(record, details);
  ++o_.match_count;
}

bool Listing::Act(const ProcessRecord& record, const std::optional<std::string>& command_line,
                  int& match_count) {
  if (actions_ != nullptr &&
      actions_->Run(record.process_id, record.name, command_line, match_count)) {
    return true;
  }
  return ModeView(record, match_count);
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

void Listing::Deferred(const char* pattern) {
  if (o_.tree) {
    // A summary is only printed without the tree.
    tally_.Clear();
    PrintTree(pattern);
  } else if (o_.mode == 's') {
    PrintSummary();
  }
}

}  // namespace zel
