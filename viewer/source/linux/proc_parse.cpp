#include "proc_parse.h"

#include <sched.h>

#include <cstdlib>
#include <unordered_map>

#include "../../priority.h"

namespace zel::linux_proc {

namespace {

constexpr std::string_view kDeletedMark = " (deleted)";

// Splits off the next blank-separated field; empty when there is none.
std::string_view NextField(std::string_view& text) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  size_t end = text.find(' ', start);
  if (end == std::string_view::npos) end = text.size();
  std::string_view field = text.substr(start, end - start);
  text.remove_prefix(end);
  return field;
}

bool ToLong(std::string_view field, long long* value) {
  if (field.empty() || field.size() > 30) return false;
  std::string copy(field);
  char* end = nullptr;
  *value = std::strtoll(copy.c_str(), &end, 10);
  return *end == '\0';
}

bool ToHex(std::string_view field, uint64_t* value) {
  if (field.empty() || field.size() > 16) return false;
  std::string copy(field);
  char* end = nullptr;
  *value = std::strtoull(copy.c_str(), &end, 16);
  return *end == '\0';
}

}  // namespace

std::optional<StatFields> ParseStat(std::string_view text) {
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  StatFields fields;
  fields.comm = std::string(text.substr(open + 1, close - open - 1));
  std::string_view rest = text.substr(close + 1);
  // Field 3 is the state; count from there.
  long long value = 0;
  for (int field = 3; field <= 41; ++field) {
    const std::string_view f = NextField(rest);
    if (f.empty()) return field > 19 ? std::optional<StatFields>(fields) : std::nullopt;
    if (field == 4) {
      if (!ToLong(f, &value)) return std::nullopt;
      fields.parent_id = static_cast<uint32_t>(value);
    } else if (field == 9) {
      if (ToLong(f, &value)) fields.kernel_thread = (value & kKernelThreadFlag) != 0;
    } else if (field == 19) {
      if (!ToLong(f, &value)) return std::nullopt;
      fields.nice = static_cast<int>(value);
    } else if (field == 41) {
      if (ToLong(f, &value)) fields.policy = static_cast<unsigned>(value);
    }
  }
  return fields;
}

uint32_t PriorityClassOf(unsigned policy, int nice) {
  if (policy == SCHED_FIFO || policy == SCHED_RR) return kRealtimePriorityClass;
  if (nice <= -15) return kHighPriorityClass;
  if (nice < 0) return kAboveNormalPriorityClass;
  if (nice == 0) return kNormalPriorityClass;
  if (nice < 15) return kBelowNormalPriorityClass;
  return kIdlePriorityClass;
}

std::optional<int> NiceOfPriorityClass(uint32_t priority_class) {
  switch (priority_class) {
    case kIdlePriorityClass: return 19;
    case kBelowNormalPriorityClass: return 10;
    case kNormalPriorityClass: return 0;
    case kAboveNormalPriorityClass: return -5;
    // -15 rather than -10: a nice value of -10 reads back as Above Normal.
    case kHighPriorityClass: return -15;
    case kRealtimePriorityClass: return -20;
    default: return std::nullopt;
  }
}

std::optional<std::string> JoinCommandLine(std::string_view raw) {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
  if (raw.empty()) return std::nullopt;
  std::string line(raw);
  for (char& c : line) {
    if (c == '\0') c = ' ';
  }
  return line;
}

std::vector<std::string> SplitEnvironment(std::string_view raw) {
  std::vector<std::string> strings;
  while (!raw.empty()) {
    size_t end = raw.find('\0');
    if (end == std::string_view::npos) end = raw.size();
    if (end > 0) strings.emplace_back(raw.substr(0, end));
    raw.remove_prefix(end < raw.size() ? end + 1 : end);
  }
  return strings;
}

std::vector<MappedFile> ParseMaps(std::string_view text) {
  std::vector<MappedFile> files;
  std::unordered_map<std::string, size_t> index;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    // start-end perms offset dev inode path
    std::string_view range = NextField(line);
    for (int skip = 0; skip < 4; ++skip) NextField(line);
    const size_t path_start = line.find_first_not_of(' ');
    if (path_start == std::string_view::npos || line[path_start] != '/') continue;
    const std::string_view path = line.substr(path_start);
    const size_t dash = range.find('-');
    uint64_t low = 0;
    uint64_t high = 0;
    if (dash == std::string_view::npos || !ToHex(range.substr(0, dash), &low) ||
        !ToHex(range.substr(dash + 1), &high)) {
      continue;
    }
    auto [it, added] = index.emplace(std::string(path), files.size());
    if (added) {
      files.push_back({std::string(path), low, high});
    } else {
      MappedFile& file = files[it->second];
      if (low < file.low) file.low = low;
      if (high > file.high) file.high = high;
    }
  }
  return files;
}

std::string BaseName(std::string_view path) {
  if (path.size() >= kDeletedMark.size() &&
      path.substr(path.size() - kDeletedMark.size()) == kDeletedMark) {
    path.remove_suffix(kDeletedMark.size());
  }
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace zel::linux_proc
