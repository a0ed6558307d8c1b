// The priority classes that -p names and the extended listing shows.
#pragma once

#include <cstdint>

namespace zel {

class ErrorStream;

struct PriorityEntry {
  const char* name;
  uint32_t value;
  bool newer_systems_only;
};

// In lookup order: the order decides which class a prefix names.
extern const PriorityEntry kPriorityTable[6];

inline constexpr uint32_t kIdlePriorityClass = 0x40;
inline constexpr uint32_t kBelowNormalPriorityClass = 0x4000;
inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kAboveNormalPriorityClass = 0x8000;
inline constexpr uint32_t kHighPriorityClass = 0x80;
inline constexpr uint32_t kRealtimePriorityClass = 0x100;

// Name of the first class with that value, or "---".
const char* PriorityName(uint32_t value);

// Class named by text (a case-insensitive prefix of a name), or 0 when
// refused. A class of newer systems on an older one is refused with a message.
uint32_t PriorityLookup(const char* text, bool newer_system, ErrorStream& errors);

}  // namespace zel
