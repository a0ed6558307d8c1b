// zel.exe -t on real process trees under Wine: this test program, a child it
// starts and the child's own child.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace zeltest {
namespace {

class ZelTree : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  const DWORD self = GetCurrentProcessId();
  Started child;
  DWORD grandchild = 0;
  void SetUp() override {
    child = helpers.Child("ztc" + Tag() + ".exe", 60000, "spawn");
    ASSERT_NE(child.id, 0u);
    grandchild = FindChildOf(child.id, 10000);
    ASSERT_NE(grandchild, 0u);
  }
  ZelRun Run(const std::string& args) { return RunZel(scratch, args); }
  static size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
  }
};

TEST_F(ZelTree, SubtreeOfThisProcessIndentedByDepth) {
  ZelRun r = Run(Format("-i -t%u", self));
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], Format("Child processes for zel_win_tests.exe (%u)", self));
  const size_t c = IndexOf(lines, Format("  %-15s (%u)", child.name.c_str(), child.id));
  const size_t g = IndexOf(lines, Format("    %-15s (%u)", child.name.c_str(), grandchild));
  ASSERT_LT(c, lines.size()) << r.out;
  ASSERT_LT(g, lines.size()) << r.out;
  EXPECT_EQ(g, c + 1) << r.out;
}

TEST_F(ZelTree, ExtendedShowsIdsAndParents) {
  ZelRun r = Run(Format("-e -i -t%u", self));
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  EXPECT_LT(IndexOf(lines, Format("%10s %10s %s", "ID", "PARENT", "MODULE")), lines.size()) << r.out;
  EXPECT_LT(IndexOf(lines, Format("%10u %10u   %s", child.id, self, child.name.c_str())), lines.size()) << r.out;
  EXPECT_LT(IndexOf(lines, Format("%10u %10u     %s", grandchild, child.id, child.name.c_str())), lines.size())
      << r.out;
}

// Wine differs: this test program, started from Linux, is a root (parent 0)
// of the whole tree, at the top level.
TEST_F(ZelTree, WineDiffers_WholeTreeHasThisProgramAtTheTopLevel) {
  ZelRun r = Run("-t");
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  const size_t top = IndexOf(lines, Format("  %-15s (%u)", "zel_win_tests.exe", self));
  ASSERT_LT(top, lines.size()) << r.out;
  EXPECT_LT(IndexOf(lines, Format("    %-15s (%u)", child.name.c_str(), child.id)), lines.size()) << r.out;
  EXPECT_LT(IndexOf(lines, Format("      %-15s (%u)", child.name.c_str(), grandchild)), lines.size()) << r.out;
}

}  // namespace
}  // namespace zeltest
