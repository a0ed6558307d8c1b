// Parsing of zel's command line into Options.
#pragma once

#include <cstdio>
#include <optional>

namespace zel {

struct Options;
class ErrorStream;

// Parses options.words (after the "2>" redirection emptied its words).
// Returns an exit code when the program must end now (help: 1, errors: 2),
// or nothing when it goes on. newer_system decides which priority classes
// -p accepts. The help text goes to out.
std::optional<int> ParseCommandLine(Options& options, ErrorStream& errors, FILE* out,
                                    bool newer_system);

// Prints the help text.
void PrintHelp(FILE* out);

}  // namespace zel
