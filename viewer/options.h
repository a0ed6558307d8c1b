// zel's option state, filled once by the command-line parser and read by
// every other part of the program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zel {

inline constexpr size_t kTreeRootSize = 261;    // 260 characters kept
inline constexpr size_t kModuleMaskSize = 260;  // 259 characters kept
inline constexpr int32_t kDefaultRepeatThreshold = -100000;

struct Options {
  char mode = 0;    // 'g', 'm', 's' or 0
  char action = 0;  // 'a', 'c', 'k', 'p' or 0
  uint32_t priority_class = 0;
  int32_t close_command = 0;
  bool force = false;
  bool by_id = false;
  bool extended = false;
  bool quiet = false;
  bool bare = false;
  bool negated_count = false;
  bool long_view = false;
  std::optional<std::string> command_line_mask;
  bool window_filter = false;
  std::optional<std::string> window_title_mask;
  bool tree = false;
  char tree_root[kTreeRootSize] = {};
  bool usage_filter = false;
  char module_mask[kModuleMaskSize] = {};
  bool wait_for_exit = false;
  bool wait_for_all = false;
  int32_t delay = 0;
  bool repeat = false;
  int32_t repeat_threshold = kDefaultRepeatThreshold;
  bool read_input = false;
  FILE* input_file = nullptr;  // owned; standard input when null
  int plain_argument_count = 0;

  // Per run / per pass.
  bool found = false;
  int match_count = 0;

  // The command line, and which words an option used up as its argument.
  std::vector<std::string> words;
  std::vector<bool> used_as_argument;

  Options() = default;
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;
  ~Options();
};

}  // namespace zel
