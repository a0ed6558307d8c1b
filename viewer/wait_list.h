// The processes that -x waits for at the end of a pass.
#pragma once

#include <cstdint>
#include <cstdio>

#include "source/process_source.h"

namespace zel {

class ErrorStream;
struct Options;

// Thrown to end the program with an exit code from deep inside a pass (the
// wait list overflow); caught by the driver.
struct ProgramExit {
  int code;
};

class WaitList {
 public:
  static constexpr size_t kSlots = 256;

  WaitList(Options& options, ProcessSource& source, ErrorStream& errors, FILE* out);

  // Remembers the process under -x; does nothing otherwise. The 257th entry
  // of a pass ends the program with exit code 3.
  void Add(uint32_t process_id, const char* name);
  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }

  // Waits for any (or, with -xa, all) of the entries with -d as time-out.
  // Returns 0 (ended), 1 (time-out) or 2 (failure); empties the list.
  int Wait();

 private:
  struct Entry {
    uint32_t process_id;
    char name[kNameSize];
  };

  Options& o_;
  ProcessSource& source_;
  ErrorStream& errors_;
  FILE* out_;
  Entry entries_[kSlots] = {};
  size_t count_ = 0;
};

}  // namespace zel
