// The -s summary: one entry per distinct module (name, ignoring case, and
// base address), counting the processes it was seen in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "source/process_source.h"

namespace zel {

class ModuleTally {
 public:
  // Counts the module once more when an entry with the same name (ignoring
  // case) and base address exists, else adds it in sorted place.
  void Add(const ModuleEntry& module);

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }

  // Prints every entry in order (name, count, base, size, path) and empties
  // the tally.
  void PrintAndClear(FILE* out, bool quiet);
  void Clear() { entries_.clear(); }

 private:
  struct Key {
    std::string name;  // as first seen
    uint64_t base;
  };
  struct KeyOrder {
    bool operator()(const Key& a, const Key& b) const;
  };
  struct Tally {
    std::string path;
    uint64_t size;
    int count;
  };

  std::map<Key, Tally, KeyOrder> entries_;
};

}  // namespace zel
