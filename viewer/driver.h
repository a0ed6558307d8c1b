// The pass loop: start-up after parsing, the passes with their delay,
// patterns and wait, repetition, and the exit code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zel {

struct Options;
class ErrorStream;
class ProcessSource;

inline constexpr char kBindingMessage[] =
    "The Zel Viewer requires TOOLHELP API\nexports in 'KERNEL32.DLL (Windows 9x/NT5)\n"
    "or PSAPI.DLL (Windows NT) installed\n";

struct DriverStreams {
  FILE* out = stdout;  // listings
  FILE* in = stdin;    // -@ without a file
  FILE* err = stderr;  // the error stream unless "2>" redirects it
};

// Binds the source and runs passes until the exit code is decided.
int RunPasses(Options& options, ProcessSource& source, ErrorStream& errors,
              const DriverStreams& streams);

// Whole program: redirection, parsing, passes. words excludes the program name.
int RunZel(std::vector<std::string> words, ProcessSource& source, const DriverStreams& streams);

}  // namespace zel
