// Shared helpers for the portability layer tests: a recorder for the lines
// the layer logs.
#ifndef TESTS_BASE_BASE_TEST_UTIL_H
#define TESTS_BASE_BASE_TEST_UTIL_H

#include <mutex>
#include <string>
#include <vector>

struct LoggedLine {
  int level;
  std::string function;
  std::string text;
};

// Records every line of the layer while it exists (one recorder at a time).
class LogRecorder {
 public:
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder &) = delete;
  LogRecorder &operator=(const LogRecorder &) = delete;

  std::vector<LoggedLine> lines() const;
  // Number of lines whose text equals `text` exactly.
  int count(const std::string &text) const;
  // Number of lines whose text starts with `prefix`.
  int count_prefix(const std::string &prefix) const;
  void clear();
};

#endif
