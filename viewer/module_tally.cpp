#include "module_tally.h"

#include "quiet_format.h"
#include "text.h"

namespace zel {

bool ModuleTally::KeyOrder::operator()(const Key& a, const Key& b) const {
  const int names = CompareNoCase(a.name.c_str(), b.name.c_str());
  if (names != 0) return names < 0;
  return a.base < b.base;
}

void ModuleTally::Add(const ModuleEntry& module) {
  const auto [it, added] =
      entries_.try_emplace(Key{module.name, module.base}, Tally{module.path, module.size, 1});
  if (!added) ++it->second.count;
}

void ModuleTally::PrintAndClear(FILE* out, bool quiet) {
  // Addresses are shown at the full width of the platform's pointers.
  const char* format =
      sizeof(void*) > 4 ? "%-15s %6d %16llx %8llu %s\n" : "%-15s %6d %8llx %8llu %s\n";
  for (const auto& [key, tally] : entries_) {
    std::fprintf(out, QuietFormat(format, quiet), key.name.c_str(), tally.count,
                 static_cast<unsigned long long>(key.base),
                 static_cast<unsigned long long>(tally.size), tally.path.c_str());
  }
  entries_.clear();
}

}  // namespace zel
