#include "wildcard.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "text.h"

namespace zel {

// The matcher walks text and pattern together; a text character equal to the
// pattern character is always taken literally first, '*' tries every text
// position from the current one to the end, '^' skips one path component.
// Instead of backtracking (exponential for patterns with many '*'), all text
// positions that the pattern prefix can reach are carried along at once, so
// the cost is bounded by pattern length times text length.
bool WildcardMatch(const char* text, const char* pattern) {
  const size_t end = std::strlen(text);
  std::vector<size_t> cur{0};
  std::vector<size_t> next;
  for (const char* p = pattern; *p != '\0'; ++p) {
    const char pc = FoldLower(*p);
    next.clear();
    bool sort_needed = false;
    size_t wild_from = end + 1;  // '*': every position from here to the end
    for (const size_t t : cur) {
      const bool literal = t < end && FoldLower(text[t]) == pc;
      if (literal) {
        next.push_back(t + 1);
      } else if (*p == '?') {
        if (t < end) next.push_back(t + 1);
      } else if (*p == '*') {
        wild_from = std::min(wild_from, t);
      } else if (*p == '^') {
        size_t u = t;
        if (u + 1 < end && text[u] == '\\' && text[u + 1] == '\\') u += 2;
        while (u < end && text[u] != '\\') ++u;
        next.push_back(u);
        sort_needed = true;
      }
    }
    if (wild_from <= end) {
      // Positions below the run stay as they are; the run covers the rest.
      size_t keep = 0;
      while (keep < next.size() && next[keep] < wild_from) ++keep;
      next.resize(keep);
      for (size_t t = wild_from; t <= end; ++t) next.push_back(t);
    } else if (sort_needed) {
      std::sort(next.begin(), next.end());
      next.erase(std::unique(next.begin(), next.end()), next.end());
    }
    if (next.empty()) return false;
    cur.swap(next);
  }
  return std::binary_search(cur.begin(), cur.end(), end);
}

}  // namespace zel
