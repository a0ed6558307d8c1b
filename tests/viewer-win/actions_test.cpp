// zel.exe's actions on real processes and windows under Wine: kill (with the
// prompt, -f and -e), activate, close and commands, priority classes.
#include <gtest/gtest.h>

#include "harness.h"

namespace zeltest {
namespace {

class ZelActions : public ::testing::Test {
 protected:
  Scratch scratch;
  Helpers helpers{scratch};
  const std::string prefix = "Act " + Tag();
  const std::string record = scratch.Path("record.txt");
  ZelRun Run(const std::string& args, const std::string& input = "") { return RunZel(scratch, args, input); }
  DWORD ExitCode(HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
  }
};

TEST_F(ZelActions, ForcedKillPrintsNameAndIdAndEndsTheProcessWithAllOnes) {
  Started c = helpers.Child("zkf" + Tag() + ".exe", 60000);
  ZelRun r = Run("-k -f " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_EQ(r.out, "  Killing '" + c.name + "'\n" + Format("%-15s (%u)\n", c.name.c_str(), c.id));
  ASSERT_TRUE(Ended(c.process, 5000));
  EXPECT_EQ(ExitCode(c.process), 0xFFFFFFFFu);
}

TEST_F(ZelActions, KillAsksAndOnlyYesKills) {
  Started c = helpers.Child("zkp" + Tag() + ".exe", 60000);
  ZelRun no = Run("-n -k " + c.name, "n\n");
  EXPECT_TRUE(Has(no.out, Format("zel: Kill %s (%u)?", c.name.c_str(), c.id))) << no.out;
  EXPECT_EQ(no.code, 0u);  // matched, none killed: minus zero
  EXPECT_FALSE(Ended(c.process, 500));
  ZelRun yes = Run("-n -k " + c.name, "Yes\n");
  EXPECT_EQ(yes.code, static_cast<DWORD>(-1));
  EXPECT_TRUE(Ended(c.process, 5000));
  EXPECT_EQ(ExitCode(c.process), 0xFFFFFFFFu);
}

TEST_F(ZelActions, KillWithExtendedDoesNotWaitButTerminates) {
  Started c = helpers.Child("zke" + Tag() + ".exe", 60000);
  ZelRun r = Run("-k -f -e " + c.name);
  EXPECT_EQ(r.code, 0u) << r.err;
  EXPECT_TRUE(Ended(c.process, 5000));
  EXPECT_EQ(ExitCode(c.process), 0xFFFFFFFFu);
}

TEST_F(ZelActions, KillUnderLongViewNeverKillsZelItself) {
  ZelRun r = Run("-n -k -f -l* zel.exe");
  EXPECT_EQ(r.code, 0u) << r.err;  // matched itself, skipped it, killed none
  EXPECT_EQ(r.out, "  Killing 'zel.exe'\n");
}

TEST_F(ZelActions, ActivateRestoresAMinimisedWindowAndBringsItForward) {
  Started w = helpers.Windows("zact" + Tag() + ".exe", record, prefix, "minimised");
  ASSERT_NE(w.id, 0u);
  HWND min = FindTitle(prefix + " Minimised");
  ASSERT_TRUE(IsIconic(min));
  ZelRun r = Run("-n -a " + w.name);
  EXPECT_EQ(r.code, static_cast<DWORD>(-1)) << r.err;
  EXPECT_EQ(ReadFileText(record), "ready\nmin WM_SYSCOMMAND 0xF120\n");
  EXPECT_FALSE(IsIconic(min));
  EXPECT_EQ(GetForegroundWindow(), min);
}

TEST_F(ZelActions, ActivateOrCloseWithoutWindowsIsReportedAndNotCounted) {
  Started c = helpers.Child("zanw" + Tag() + ".exe", 60000);
  const std::string message =
      "zel: Process '" + c.name + "' doesn't contain any windows which I could send a message.\n";
  ZelRun a = Run("-n -a " + c.name);
  EXPECT_EQ(a.code, 0u);
  EXPECT_EQ(a.err, message);
  ZelRun cl = Run("-n -c " + c.name);
  EXPECT_EQ(cl.code, 0u);
  EXPECT_EQ(cl.err, message);
}

TEST_F(ZelActions, CloseSendsTheSystemCloseAndTheWindowGoes) {
  Started w = helpers.Windows("zcl" + Tag() + ".exe", record, prefix, "single");
  ASSERT_NE(w.id, 0u);
  EXPECT_EQ(Run("-c " + w.name).code, 0u);
  EXPECT_TRUE(Ended(w.process, 10000));
  EXPECT_EQ(ReadFileText(record), "ready\nmain WM_SYSCOMMAND 0xF060\nmain WM_CLOSE\nexit\n");
}

TEST_F(ZelActions, CloseWithANumberSendsThatCommand) {
  Started w = helpers.Windows("zc1" + Tag() + ".exe", record, prefix, "single");
  ASSERT_NE(w.id, 0u);
  EXPECT_EQ(Run("-c1001 " + w.name).code, 0u);
  EXPECT_EQ(ReadFileText(record), "ready\nmain WM_COMMAND 1001\n");
  EXPECT_FALSE(Ended(w.process, 0));
}

TEST_F(ZelActions, CloseWithANegativeNumberSendsThatSystemCommand) {
  Started w = helpers.Windows("zcm" + Tag() + ".exe", record, prefix, "single");
  ASSERT_NE(w.id, 0u);
  EXPECT_EQ(Run("-c-32 " + w.name).code, 0u);
  EXPECT_EQ(ReadFileText(record), "ready\nmain WM_SYSCOMMAND 0xF020\n");
  EXPECT_TRUE(IsIconic(FindTitle(prefix + " Main")));
}

TEST_F(ZelActions, PriorityClassesByLetterAndName) {
  Started c = helpers.Child("zpc" + Tag() + ".exe", 60000);
  struct Case {
    const char* arg;
    const char* name;
    DWORD value;
  };
  for (const Case& k : {Case{"-pb", "Below Normal", BELOW_NORMAL_PRIORITY_CLASS}, Case{"-p high", "High", HIGH_PRIORITY_CLASS},
                        Case{"-pi", "Idle", IDLE_PRIORITY_CLASS}, Case{"-pa", "Above Normal", ABOVE_NORMAL_PRIORITY_CLASS},
                        Case{"-p Normal", "Normal", NORMAL_PRIORITY_CLASS}}) {
    ZelRun r = Run(std::string(k.arg) + " " + c.name);
    EXPECT_EQ(r.code, 0u) << k.arg << r.err;
    EXPECT_EQ(r.out, Format("  Setting priority to %s for '%s'\n%-15s (%u)\n", k.name, c.name.c_str(), c.name.c_str(), c.id))
        << k.arg;
    EXPECT_EQ(GetPriorityClass(c.process), k.value) << k.arg;
  }
}

}  // namespace
}  // namespace zeltest
