// The -t tree: one node per enumerated process, in one list where every
// child follows its parent directly (later children before earlier ones).
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

namespace zel {

struct TreeNode {
  uint32_t process_id = 0;
  uint32_t parent_id = 0;
  int depth = 0;  // 0 without a known parent
  std::string name;
  bool matched = false;
  std::optional<std::string> command_line;
};

class ProcessTree {
 public:
  // Inserts the node directly after the first node whose process ID is its
  // parent ID (one level deeper), else appends it at depth 0.
  void Add(TreeNode node);

  std::list<TreeNode>& nodes() { return nodes_; }
  void Clear();

 private:
  std::list<TreeNode> nodes_;
  // First node of each process ID, for the parent search.
  std::unordered_map<uint32_t, std::list<TreeNode>::iterator> first_;
};

}  // namespace zel
