// zel.exe -x and -xa on real processes: completion, time-outs, the wait
// over more handles than the platform takes, and the exit codes.
#include <gtest/gtest.h>

#include "harness.h"

namespace zeltest {
namespace {

class ZelWait : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  ZelRun Run(const std::string& args) { return RunZel(scratch, args, "", 60000); }
};

TEST_F(ZelWait, CompletesWhenTheProcessEnds) {
  Started c = helpers.Child("zxc" + Tag() + ".exe", 4000);  // still running when zel looks
  ZelRun r = Run("-x -d20000 " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_TRUE(Has(r.out, Format("\nzel: Waiting completed for process %s (%u)\n", c.name.c_str(), c.id))) << r.out;
  EXPECT_TRUE(Ended(c.process, 0));
}

TEST_F(ZelWait, TimeOutEndsWithOne) {
  Started c = helpers.Child("zxt" + Tag() + ".exe", 60000);
  const DWORD start = GetTickCount();
  ZelRun r = Run("-x -d700 " + c.name);
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(r.err, "zel: The time-out interval elapsed\n");
  EXPECT_GE(GetTickCount() - start, 700u);
  EXPECT_FALSE(Ended(c.process, 0));
}

TEST_F(ZelWait, AllWaitsForEveryProcess) {
  // Both still run when zel looks; they end at different times.
  Started a = helpers.Child("zxa" + Tag() + ".exe", 2500);
  Started b = helpers.Child("zxb" + Tag() + ".exe", 4000);
  ZelRun r = Run("-xa -d20000 zx?" + Tag() + ".exe");
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_TRUE(Has(r.out, "\nzel: Waiting for all processes completed\n")) << r.out;
  EXPECT_TRUE(Ended(a.process, 0));
  EXPECT_TRUE(Ended(b.process, 0));
}

TEST_F(ZelWait, AllTimesOutWhileOneStillRuns) {
  Started a = helpers.Child("zya" + Tag() + ".exe", 2500);
  Started b = helpers.Child("zyb" + Tag() + ".exe", 60000);
  ZelRun r = Run("-xa -d1500 zy?" + Tag() + ".exe");
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(r.err, "zel: The time-out interval elapsed\n");
  EXPECT_FALSE(Ended(b.process, 0));
}

TEST_F(ZelWait, NothingMatchingDoesNotWait) {
  const DWORD start = GetTickCount();
  ZelRun r = Run("-x -d20000 nosuch" + Tag() + ".exe");
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(r.err, "zel: No matching processes found\n");
  EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST_F(ZelWait, MoreThanSixtyFourProcessesFailTheWait) {
  for (int i = 0; i < 65; ++i) helpers.Child(Format("z%02d_%s.exe", i, Tag().c_str()), 60000);
  ZelRun r = Run("-x -d5000 z??_" + Tag() + ".exe");
  EXPECT_EQ(r.code, 2u);
  EXPECT_EQ(r.err, "zel: Wait failed\n");
}

}  // namespace
}  // namespace zeltest
