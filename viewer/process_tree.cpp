#include "process_tree.h"

namespace zel {

void ProcessTree::Add(TreeNode node) {
  std::list<TreeNode>::iterator at = nodes_.end();
  const auto parent = first_.find(node.parent_id);
  if (parent != first_.end()) {
    node.depth = parent->second->depth + 1;
    at = std::next(parent->second);
  } else {
    node.depth = 0;
  }
  const uint32_t id = node.process_id;
  const auto inserted = nodes_.insert(at, std::move(node));
  first_.try_emplace(id, inserted);
}

void ProcessTree::Clear() {
  nodes_.clear();
  first_.clear();
}

}  // namespace zel
