// WildcardMatch, QuietFormat and the priority table.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "error_stream.h"
#include "fake_source.h"
#include "priority.h"
#include "quiet_format.h"
#include "wildcard.h"

namespace zel {
namespace {

TEST(WildcardMatch, StarsAndQuestionMarks) {
  EXPECT_TRUE(WildcardMatch("x", "*x"));
  EXPECT_TRUE(WildcardMatch("ax", "*x"));
  EXPECT_TRUE(WildcardMatch("abx", "*x"));
  EXPECT_FALSE(WildcardMatch("abxy", "*x"));
  EXPECT_FALSE(WildcardMatch("ac", "a?c"));
  EXPECT_TRUE(WildcardMatch("abc", "a?c"));
  EXPECT_FALSE(WildcardMatch("ab", "ab?"));
  EXPECT_TRUE(WildcardMatch("abc", "A*"));
  EXPECT_TRUE(WildcardMatch("ABC", "a*c"));
  EXPECT_TRUE(WildcardMatch("anything", "*"));
  EXPECT_TRUE(WildcardMatch("", "*"));
  EXPECT_TRUE(WildcardMatch("", ""));
  EXPECT_FALSE(WildcardMatch("a", ""));
  EXPECT_FALSE(WildcardMatch("", "?"));
  EXPECT_TRUE(WildcardMatch("sleep_alpha", "sleep*"));
  EXPECT_TRUE(WildcardMatch("a.b.c", "*.*.*"));
  EXPECT_FALSE(WildcardMatch("a.b", "*.*.*"));
}

TEST(WildcardMatch, LiteralComparisonComesFirst) {
  // A '*' in the text is taken literally by a '*' in the pattern, with no
  // second try as a wildcard.
  EXPECT_FALSE(WildcardMatch("*ba", "*a"));
  EXPECT_TRUE(WildcardMatch("*ba", "**a"));
  EXPECT_TRUE(WildcardMatch("a?c", "a?c"));
  EXPECT_TRUE(WildcardMatch("x*", "x*"));
}

TEST(WildcardMatch, CaretMatchesOnePathComponent) {
  EXPECT_TRUE(WildcardMatch("\\\\server\\share", "^\\share"));
  EXPECT_TRUE(WildcardMatch("windows\\notepad.exe", "^\\notepad.exe"));
  EXPECT_FALSE(WildcardMatch("a\\b\\c", "^\\c"));
  EXPECT_TRUE(WildcardMatch("a\\b\\c", "^\\^\\c"));
  EXPECT_TRUE(WildcardMatch("abc", "^"));
  EXPECT_TRUE(WildcardMatch("", "^"));
  EXPECT_TRUE(WildcardMatch("^x", "^x"));  // literal first
}

TEST(WildcardMatch, LongInputsStayFast) {
  // A backtracking matcher needs exponential time for this pattern already
  // at a few dozen stars; the sizes are kept moderate so that the bound
  // also holds for sanitizer builds on a busy machine.
  const std::string text(3000, 'a');
  std::string pattern;
  for (int i = 0; i < 1500; ++i) pattern += "*a";
  pattern += "b";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WildcardMatch(text.c_str(), pattern.c_str()));
  EXPECT_TRUE(WildcardMatch(text.c_str(), std::string(3000, '*').c_str()));
  EXPECT_TRUE(WildcardMatch(text.c_str(), (std::string(2999, '?') + "a").c_str()));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(QuietFormat, RewritesBlanksParenthesesAndWidths) {
  EXPECT_STREQ(QuietFormat("%-15s %8x %8d %s\n", true), "%s\t%x\t%d\t%s\n");
  EXPECT_STREQ(QuietFormat("%-15s (%u)\n", true), "%s\t%u\n");
  EXPECT_STREQ(QuietFormat("[] ", true), "[]\t");
  EXPECT_STREQ(QuietFormat("%-15s %8u ", false), "%-15s %8u ");
  std::string huge(1000, 'x');
  EXPECT_EQ(std::string(QuietFormat(huge.c_str(), true)).size(), 255u);
}

TEST(Priority, NamesAndLookup) {
  EXPECT_STREQ(PriorityName(0x20), "Normal");
  EXPECT_STREQ(PriorityName(0x100), "Real Time");
  EXPECT_STREQ(PriorityName(0), "---");
  ErrorStream errors(std::tmpfile());
  EXPECT_EQ(PriorityLookup("N", true, errors), kNormalPriorityClass);
  EXPECT_EQ(PriorityLookup("ab", true, errors), kAboveNormalPriorityClass);
  EXPECT_EQ(PriorityLookup("Idle ", true, errors), 0u);  // longer than the name
  EXPECT_EQ(PriorityLookup("Normalx", true, errors), 0u);
  EXPECT_EQ(PriorityLookup("a", false, errors), 0u);
  EXPECT_EQ(test::ReadAll(errors.stream()),
            "\nzel: Above Normal priority class is available only on Windows 2000 or higher\n");
  std::fclose(errors.stream());
}

}  // namespace
}  // namespace zel
