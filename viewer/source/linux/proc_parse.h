// Parsers of the /proc files the Linux source reads; kept free of file
// access so they can be tested on fixed texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zel::linux_proc {

// Flag of a kernel thread in the process flags of stat.
inline constexpr long long kKernelThreadFlag = 0x00200000;

struct StatFields {
  std::string comm;
  bool kernel_thread = false;  // no signal ends it
  uint32_t parent_id = 0;
  int nice = 0;
  unsigned policy = 0;
};

// Parses /proc/PID/stat ("pid (comm) state ppid ..."); the command name may
// itself hold blanks and parentheses, so it ends at the last ')'.
std::optional<StatFields> ParseStat(std::string_view text);

// Priority class value of a scheduling policy and nice value.
uint32_t PriorityClassOf(unsigned policy, int nice);
// Nice value that setting a priority class gives; nullopt for other values.
std::optional<int> NiceOfPriorityClass(uint32_t priority_class);

// Arguments of /proc/PID/cmdline joined by blanks; nothing when empty.
std::optional<std::string> JoinCommandLine(std::string_view raw);

// The zero-terminated strings of /proc/PID/environ, empty ones skipped.
std::vector<std::string> SplitEnvironment(std::string_view raw);

struct MappedFile {
  std::string path;
  uint64_t low = 0;   // lowest start address
  uint64_t high = 0;  // highest end address
};

// One entry per mapped file of /proc/PID/maps, in order of first mapping.
std::vector<MappedFile> ParseMaps(std::string_view text);

// File name part of a path; a " (deleted)" mark of the kernel is dropped.
std::string BaseName(std::string_view path);

}  // namespace zel::linux_proc
