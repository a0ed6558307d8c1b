// The deferred output of -t: the subtree (or the whole tree) below the root.
#include <cstdlib>
#include <cstring>

#include "listing.h"
#include "options.h"
#include "quiet_format.h"
#include "text.h"
#include "wait_list.h"
#include "wildcard.h"

namespace zel {

namespace {

// Subtree depth outside any subtree.
constexpr int kOutside = 10000;

}  // namespace

void Listing::PrintTree(const char* pattern) {
  const bool q = o_.quiet;
  const char* root = o_.tree_root;
  // With -i the root is a decimal process ID (trailing characters ignored).
  const uint32_t root_id =
      o_.by_id ? static_cast<uint32_t>(std::strtoul(root, nullptr, 10)) : 0;
  auto extended_header = [&] {
    if (o_.extended && !q) std::fprintf(out_, "%10s %10s %s", "ID", "PARENT", "MODULE\n");
  };

  int subtree = kOutside;
  if (root[0] == '\0') {
    subtree = -1;  // every node is inside
    o_.found = true;
    extended_header();
  }
  std::list<TreeNode>& nodes = tree_.nodes();
  while (!nodes.empty()) {
    const TreeNode& node = nodes.front();
    if (subtree == kOutside) {
      const bool is_root =
          o_.by_id ? node.process_id == root_id : WildcardMatch(node.name.c_str(), root);
      if (is_root) {
        subtree = node.depth;
        o_.found = true;
        if (!q) {
          std::fprintf(out_, QuietFormat("Child processes for %s (%u)", q), node.name.c_str(),
                       node.process_id);
          if (std::strcmp(pattern, "*") == 0) {
            std::fputc('\n', out_);
          } else {
            std::fprintf(out_, "matching '%s'\n", pattern);
          }
          extended_header();
        }
      }
    } else if (node.depth <= subtree) {
      // The subtree ends here; this node is not examined as a root (so a
      // sibling root right after the first one is consumed by it).
      subtree = kOutside;
    } else if (node.matched) {
      if (wait_list_ != nullptr) wait_list_->Add(node.process_id, node.name.c_str());
      ProcessRecord record;
      record.process_id = node.process_id;
      CopyBounded(record.name, node.name.c_str());
      // Counted once per process, whichever of action, view or entry
      // handled it.
      int handled_count = 0;
      if (!Act(record, node.command_line, handled_count)) {
        PrintTreeEntry(node, node.depth - subtree);
      }
      ++o_.match_count;
    }
    nodes.pop_front();
  }
  tree_.Clear();
}

void Listing::PrintTreeEntry(const TreeNode& node, int level) {
  const bool q = o_.quiet;
  if (o_.bare) {
    std::fprintf(out_, "%u\n", node.process_id);
    return;
  }
  if (o_.extended) {
    std::fprintf(out_, QuietFormat("%10u %10u", q), node.process_id, node.parent_id);
    if (!q) {
      for (int i = 0; i < level; ++i) std::fputs("  ", out_);
    }
    std::fprintf(out_, QuietFormat(" %s", q), node.name.c_str());
  } else {
    for (int i = 0; i < level; ++i) std::fputs("  ", out_);
    std::fprintf(out_, QuietFormat("%-15s (%u)", q), node.name.c_str(), node.process_id);
  }
  if (node.command_line) std::fprintf(out_, QuietFormat(" %s", q), node.command_line->c_str());
  std::fputc('\n', out_);
}

}  // namespace zel
