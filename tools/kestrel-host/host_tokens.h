// Splitting a command line into words: blanks separate words; "..." holds
// blanks and the escapes \" \\ \n \t \r \xHH; '...' is taken as it stands;
// an unquoted [ or ] is a bracket of its own (string arrays); ${NAME} in an
// unquoted word or in "..." is replaced by a script variable.
#ifndef KESTREL_HOST_TOKENS_H
#define KESTREL_HOST_TOKENS_H

#include <functional>
#include <string>
#include <vector>

namespace host {

struct Token {
  std::string text;
  bool quoted = false;   // came (at least partly) from quotes: never a keyword
  bool bracket = false;  // an unquoted [ or ]
};

// Looks a variable up; false when it is not set.
using VariableLookup = std::function<bool(const std::string &name, std::string &value)>;

// Splits line into tokens; false with a message in error on an unclosed
// quote, a bad escape, a NUL byte or an unknown variable.
bool tokenize(const std::string &line, const VariableLookup &lookup, std::vector<Token> &tokens,
              std::string &error);

}  // namespace host

#endif
