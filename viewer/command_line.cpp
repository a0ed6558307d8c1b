#include "command_line.h"

#include <cstring>
#include <string>

#include "error_stream.h"
#include "options.h"
#include "priority.h"
#include "text.h"

namespace zel {

namespace {

// Long names in lookup order; the first entry the given text is a prefix of
// wins. An upper-case first character is only the option letter and is not
// compared ("Xexit" is compared as "exit" and stands for x).
const char* const kLongNames[] = {
    "activate", "bare",  "close",  "delay",   "extended", "force",   "getenv",
    "help",     "id",    "kill",   "long",    "module",   "number",  "priority",
    "quiet",    "repeat", "summary", "tree",  "usage",    "window",  "Xexit",
};

// Letter of the long name, or 0 when text is empty or names nothing.
char LookupLongName(const std::string& text) {
  if (text.empty()) return 0;
  for (const char* entry : kLongNames) {
    const bool marked = entry[0] >= 'A' && entry[0] <= 'Z';
    const char* compared = marked ? entry + 1 : entry;
    if (text.size() > std::strlen(compared)) continue;
    bool prefix = true;
    for (size_t i = 0; i < text.size() && prefix; ++i) {
      prefix = FoldLower(text[i]) == FoldLower(compared[i]);
    }
    if (prefix) return FoldLower(entry[0]);
  }
  return 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  Parser(Options& options, ErrorStream& errors, FILE* out, bool newer_system)
      : o_(options), errors_(errors), out_(out), newer_system_(newer_system) {}

  std::optional<int> Run() {
    o_.used_as_argument.assign(o_.words.size(), false);
    for (index_ = 0; index_ < o_.words.size(); ++index_) {
      if (o_.used_as_argument[index_]) continue;
      const std::string& word = o_.words[index_];
      if (word.empty() || (word[0] != '-' && word[0] != '/')) {
        ++o_.plain_argument_count;
        continue;
      }
      if (word.size() == 1) continue;  // a lone "-" or "/"
      if (auto code = ParseOptionWord(word)) return code;
    }
    return std::nullopt;
  }

 private:
  int Fail(const char* message) {
    errors_.Write(message);
    errors_.Write(kHelpHint);
    return 2;
  }

  // The next word as the argument of d, p or u; used up, never a pattern.
  std::optional<std::string> TakeNextWord() {
    if (index_ + 1 >= o_.words.size()) return std::nullopt;
    ++index_;
    o_.used_as_argument[index_] = true;
    return o_.words[index_];
  }

  std::optional<int> CheckConflicts(char letter) {
    if (std::strchr("feiqlwdrobx@ut", letter) != nullptr) return std::nullopt;
    if (std::strchr("kacp", letter) != nullptr) {
      if (o_.action != 0) return Fail("zel: Conflicting actions\n");
      return std::nullopt;
    }
    if (o_.mode != 0) return Fail("zel: Conflicting options\n");
    return std::nullopt;
  }

  std::optional<int> ParseOptionWord(const std::string& word) {
    size_t pos = 1;
    while (pos < word.size()) {
      char letter = FoldLower(word[pos++]);
      bool long_form = false;
      if (letter == '-') {
        const std::string name = word.substr(pos);
        pos = word.size();
        letter = LookupLongName(name);
        if (letter == 0) {
          errors_.Printf("\nzel: Invalid option '%s'\n", name.c_str());
          errors_.Write(kHelpHint);
          return 2;
        }
        long_form = true;
      }
      if (auto code = CheckConflicts(letter)) return code;
      // A long option never has a glued argument.
      const std::string rest = long_form ? std::string() : word.substr(pos);
      if (auto code = Apply(letter, long_form, rest, pos, word.size())) return code;
    }
    return std::nullopt;
  }

  // Applies one letter. pos is the index of the next character of the word;
  // a letter with a glued argument moves it to the end of the word.
  std::optional<int> Apply(char letter, bool long_form, const std::string& rest, size_t& pos,
                           size_t word_end) {
    switch (letter) {
      case '?':
      case 'h':
        PrintHelp(out_);
        return 1;
      case 's':
      case 'g':
      case 'm':
        o_.mode = letter;
        return std::nullopt;
      case 'k':
      case 'a':
        o_.action = letter;
        return std::nullopt;
      case 'c':
        o_.action = 'c';
        o_.close_command = rest.empty() ? 0 : ParseSigned32(rest.c_str());
        pos = word_end;
        return std::nullopt;
      case 'p': {
        o_.action = 'p';
        pos = word_end;
        std::string text = rest;
        if (text.empty()) text = TakeNextWord().value_or(std::string());
        o_.priority_class =
            text.empty() ? 0 : PriorityLookup(text.c_str(), newer_system_, errors_);
        if (o_.priority_class == 0) {
          errors_.Printf("\nzel: Invalid priority class '%s'\n", text.c_str());
          errors_.Write(kHelpHint);
          return 2;
        }
        return std::nullopt;
      }
      case 'e':
        o_.extended = true;
        return std::nullopt;
      case 'l':
        o_.long_view = true;
        if (!rest.empty()) o_.command_line_mask = rest;
        pos = word_end;
        return std::nullopt;
      case 'q':
        o_.quiet = true;
        return std::nullopt;
      case 'b':
        o_.bare = true;
        o_.quiet = true;
        return std::nullopt;
      case 'f':
        o_.force = true;
        return std::nullopt;
      case 'i':
        o_.by_id = true;
        return std::nullopt;
      case 'w':
        o_.window_filter = true;
        if (!rest.empty()) o_.window_title_mask = rest;
        pos = word_end;
        return std::nullopt;
      case 'u': {
        o_.usage_filter = true;
        pos = word_end;
        std::optional<std::string> mask;
        if (!rest.empty()) mask = rest;
        else mask = TakeNextWord();
        CopyBounded(o_.module_mask, mask ? mask->c_str() : "*");
        return std::nullopt;
      }
      case 't':
        o_.tree = true;
        CopyBounded(o_.tree_root, rest.c_str());
        pos = word_end;
        return std::nullopt;
      case 'd': {
        pos = word_end;
        std::string text = rest;
        if (text.empty()) text = TakeNextWord().value_or(std::string());
        if (!text.empty()) o_.delay = ParseSigned32(text.c_str());
        return std::nullopt;
      }
      case 'r':
        o_.repeat = true;
        if (!long_form && !rest.empty() && (IsDigit(rest[0]) || rest[0] == '-')) {
          o_.repeat_threshold = ParseSigned32(rest.c_str());
          pos = word_end;
        }
        return std::nullopt;
      case 'n':
        o_.negated_count = true;
        return std::nullopt;
      case 'x':
        o_.wait_for_exit = true;
        if (!long_form && !rest.empty() && (rest[0] == 'a' || rest[0] == 'A')) {
          o_.wait_for_all = true;
          ++pos;
        }
        return std::nullopt;
      case '@':
        o_.read_input = true;
        pos = word_end;
        if (o_.input_file != nullptr) {
          std::fclose(o_.input_file);
          o_.input_file = nullptr;
        }
        if (!rest.empty()) {
          o_.input_file = std::fopen(rest.c_str(), "r");
          if (o_.input_file == nullptr) {
            errors_.Printf("\nzel: Unable to open file for input '%s'\n", rest.c_str());
          }
        }
        return std::nullopt;
      default: {
        errors_.Printf("\nzel: Invalid option '%c'\n", letter);
        errors_.Write(kHelpHint);
        return 2;
      }
    }
  }

  Options& o_;
  ErrorStream& errors_;
  FILE* out_;
  bool newer_system_;
  size_t index_ = 0;
};

}  // namespace

std::optional<int> ParseCommandLine(Options& options, ErrorStream& errors, FILE* out,
                                    bool newer_system) {
  return Parser(options, errors, out, newer_system).Run();
}

}  // namespace zel
