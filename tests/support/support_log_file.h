// The library's log written to a temporary file (every level, every source,
// flushed on each line) for a test to read back; the file and its folder go
// when the object does.
#ifndef TESTS_SUPPORT_SUPPORT_LOG_FILE_H
#define TESTS_SUPPORT_SUPPORT_LOG_FILE_H

#include <string>

#include "support_files.h"

namespace test_support {

class LogFile {
 public:
  LogFile();
  ~LogFile();
  LogFile(const LogFile &) = delete;
  LogFile &operator=(const LogFile &) = delete;

  // Everything logged so far.
  std::string text() const;
  // How often needle stands in the log (overlapping finds count).
  int count(const std::string &needle) const;

 private:
  TempDir dir_;
  std::string path_;
};

}  // namespace test_support

#endif
