#include "error_stream.h"

namespace zel {

ErrorStream::~ErrorStream() {
  if (owned_ != nullptr) std::fclose(owned_);
}

void ErrorStream::Redirect(std::vector<std::string>& words) {
  for (std::string& word : words) {
    if (word.size() < 2 || word[0] != '2' || word[1] != '>') continue;
    const bool append = word.size() > 2 && word[2] == '>';
    std::string name = word.substr(append ? 3 : 2);
#ifndef _WIN32
    // Batch-style "2>nul" means the null device.
    if (name.size() == 3 && (name[0] | 0x20) == 'n' && (name[1] | 0x20) == 'u' &&
        (name[2] | 0x20) == 'l') {
      name = "/dev/null";
    }
#endif
    word.clear();
    FILE* file = std::fopen(name.c_str(), append ? "a+" : "w+");
    if (file == nullptr) continue;
    if (owned_ != nullptr) std::fclose(owned_);
    owned_ = file;
    stream_ = file;
  }
}

void ErrorStream::Write(const char* text) { std::fputs(text, stream_); }

void ErrorStream::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stream_, format, args);
  va_end(args);
}

void ErrorStream::Flush() { std::fflush(stream_); }

}  // namespace zel
