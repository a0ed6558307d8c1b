// The stream every "zel: " message goes to: standard error unless a "2>"
// word on the command line redirected it to a file.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace zel {

class ErrorStream {
 public:
  ErrorStream() = default;
  explicit ErrorStream(FILE* stream) : stream_(stream) {}
  ~ErrorStream();
  ErrorStream(const ErrorStream&) = delete;
  ErrorStream& operator=(const ErrorStream&) = delete;

  // Empties every word that begins with "2>" and opens the file it names:
  // "2>>name" appends, "2>name" truncates. The last file that opens wins;
  // when none opens the stream stays as it was.
  void Redirect(std::vector<std::string>& words);

  void Write(const char* text);
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Flush();
  FILE* stream() const { return stream_; }

 private:
  FILE* stream_ = stderr;
  FILE* owned_ = nullptr;
};

// The hint that follows every command-line error.
inline constexpr const char kHelpHint[] = "zel: Use 'zel -h' for help\n";

}  // namespace zel
