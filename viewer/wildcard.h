// The pattern matcher used for process names, module names, window titles
// and command lines.
#pragma once

namespace zel {

// Matches text against pattern: '*' any run, '?' any one character, '^' one
// backslash-separated path component (with an optional leading "\\"). A
// pattern character equal to the text character (ASCII case folding) always
// matches literally first.
bool WildcardMatch(const char* text, const char* pattern);

}  // namespace zel
