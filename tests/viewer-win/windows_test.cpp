// zel.exe's window filter on the window test program under Xvfb: titles,
// the title mask, invisible windows, and commands sent to every kept window.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "harness.h"

namespace zeltest {
namespace {

class ZelWindows : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  const std::string prefix = "Win " + Tag();
  const std::string record = scratch.Path("record.txt");
  Started Full() { return helpers.Windows("zwin" + Tag() + ".exe", record, prefix, "full"); }
  ZelRun Run(const std::string& args) { return RunZel(scratch, args); }
};

// The bracketed titles of a process line: "[a],[b],[c] " at the end.
std::multiset<std::string> Titles(const std::string& line) {
  std::multiset<std::string> titles;
  size_t pos = line.find('[');
  while (pos != std::string::npos) {
    size_t end = line.find(']', pos);
    if (end == std::string::npos) break;
    titles.insert(line.substr(pos + 1, end - pos - 1));
    pos = line.find('[', end);
  }
  return titles;
}

TEST_F(ZelWindows, TitlesOfVisibleWindowsWithControlCharactersAsBlanks) {
  Started w = Full();
  ASSERT_NE(w.id, 0u);
  ZelRun r = Run("-w " + w.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0], "  PROCESS            PID WINDOW TITLE");
  EXPECT_EQ(lines[1].substr(0, 25), Format("%-15s %8u ", w.name.c_str(), w.id));
  EXPECT_EQ(Titles(lines[1]),
            (std::multiset<std::string>{prefix + " Main", prefix + " Minimised", prefix + " Ctrl Chars "}));
  // Joined by commas, a blank after the last.
  EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), ','), 2);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "] ");
}

TEST_F(ZelWindows, ExtendedIncludesInvisibleWindows) {
  Started w = Full();
  ASSERT_NE(w.id, 0u);
  ZelRun r = Run("-w -e " + w.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  std::multiset<std::string> titles = Titles(Lines(r.out).back());
  EXPECT_EQ(titles.count(prefix + " Hidden"), 1u) << r.out;
  EXPECT_EQ(titles.count(prefix + " Main"), 1u) << r.out;
}

TEST_F(ZelWindows, TitleMaskKeepsMatchingTitlesOnly) {
  Started w = Full();
  ASSERT_NE(w.id, 0u);
  ZelRun r = Run("-w*minimised " + w.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_EQ(Lines(r.out).back(), Format("%-15s %8u [%s Minimised] ", w.name.c_str(), w.id, prefix.c_str()));
  EXPECT_EQ(Run("-w*Nothing " + w.name).code, 1u);
  EXPECT_EQ(Run("-w*Hidden " + w.name).code, 1u);
}

TEST_F(ZelWindows, ProcessWithoutWindowsDoesNotMatch) {
  Started c = helpers.Child("zwnw" + Tag() + ".exe", 60000);
  ZelRun r = Run("-w " + c.name);
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(r.err, "zel: No matching processes found\n");
}

TEST_F(ZelWindows, WindowFilterWithCommandReachesTheKeptWindowsOnly) {
  Started w = Full();
  ASSERT_NE(w.id, 0u);
  ZelRun r = Run("-w*Main -c1001 " + w.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_EQ(ReadFileText(record), "ready\nmain WM_COMMAND 1001\n");
}

TEST_F(ZelWindows, WindowFilterSendsNegativeCommandsAsCommandsToo) {
  Started w = Full();
  ASSERT_NE(w.id, 0u);
  EXPECT_EQ(Run("-w*Main -c-32 " + w.name).code, 0u);
  // -32 as a 16-bit command identifier.
  EXPECT_EQ(ReadFileText(record), "ready\nmain WM_COMMAND 65504\n");
}

TEST_F(ZelWindows, WindowFilterWithCloseClosesEveryVisibleWindow) {
  Started w = Full();
  ASSERT_NE(w.id, 0u);
  EXPECT_EQ(Run("-w -c " + w.name).code, 0u);
  const std::string text = ReadFileText(record);
  for (const char* tag : {"main", "min", "ctrl"}) {
    EXPECT_TRUE(Has(text, std::string(tag) + " WM_SYSCOMMAND 0xF060\n" + tag + " WM_CLOSE\n")) << text;
  }
  EXPECT_FALSE(Has(text, "hidden")) << text;
  EXPECT_EQ(FindTitle(prefix + " Main"), nullptr);
  EXPECT_NE(FindTitle(prefix + " Hidden"), nullptr);
  EXPECT_FALSE(Ended(w.process, 0));
}

}  // namespace
}  // namespace zeltest
