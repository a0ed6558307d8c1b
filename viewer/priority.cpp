#include "priority.h"

#include <cstring>

#include "error_stream.h"
#include "text.h"

namespace zel {

const PriorityEntry kPriorityTable[6] = {
    {"Idle", kIdlePriorityClass, false},
    {"Below Normal", kBelowNormalPriorityClass, true},
    {"Normal", kNormalPriorityClass, false},
    {"Above Normal", kAboveNormalPriorityClass, true},
    {"High", kHighPriorityClass, false},
    {"Real Time", kRealtimePriorityClass, false},
};

const char* PriorityName(uint32_t value) {
  for (const PriorityEntry& entry : kPriorityTable) {
    if (entry.value == value) return entry.name;
  }
  return "---";
}

uint32_t PriorityLookup(const char* text, bool newer_system, ErrorStream& errors) {
  const size_t length = std::strlen(text);
  for (const PriorityEntry& entry : kPriorityTable) {
    // Compared over the length of the text only; a text longer than the
    // name cannot agree with it.
    if (length > std::strlen(entry.name)) continue;
    bool agrees = true;
    for (size_t i = 0; i < length && agrees; ++i) {
      agrees = FoldLower(text[i]) == FoldLower(entry.name[i]);
    }
    if (!agrees) continue;
    if (entry.newer_systems_only && !newer_system) {
      errors.Printf("\nzel: %s priority class is available only on Windows 2000 or higher\n",
                    entry.name);
      return 0;
    }
    return entry.value;
  }
  return 0;
}

}  // namespace zel
