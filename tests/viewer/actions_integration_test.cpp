// zel's actions and waits on real processes the tests start: kill with the
// prompts answered through standard input, -f, -e and -l, priority classes
// seen in /proc, waits for any or all with and without time-out, the wait
// list's overflow, and a forced kill of 1000 processes.
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <sstream>

#include "integration_fixture.h"

namespace {

using namespace zel_it;

constexpr uid_t kNobody = 65534;

TEST_F(ZelIntegration, KillAsksAndOnlyYesKills) {
  const std::string path = Copy("zk_p");
  const pid_t first = Start(path, {});
  const pid_t second = Start(path, {});
  const std::string name = Name("zk_p");
  const Result r = RunZel({"-n", "-k", name}, "n\ny\n");
  EXPECT_EQ(r.code, 256 - 1);  // minus one killed, as a byte
  EXPECT_EQ(r.out, "  Killing '" + name + "'\n" + Printf("zel: Kill %s (%d)?", name.c_str(), first) +
                       Printf("zel: Kill %s (%d)?", name.c_str(), second));
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(EndsWithin(second, 5000));
  EXPECT_FALSE(Ended(first));
  // All declined: the processes matched, so minus zero.
  const Result declined = RunZel({"-n", "-k", name}, "no\n");
  EXPECT_EQ(declined.code, 0);
  EXPECT_FALSE(Ended(first));
  // The answer is read as a line: "Y" with more text agrees.
  EXPECT_EQ(RunZel({"-n", "-q", "-k", name}, "Yes please\n").code, 256 - 1);
  EXPECT_TRUE(EndsWithin(first, 5000));
}

TEST_F(ZelIntegration, ForcedKillPrintsEachKilledProcessAndEndsIt) {
  const std::string path = Copy("zk_f");
  const pid_t pid = Start(path, {});
  const std::string name = Name("zk_f");
  const Result r = RunZel({"-k", "-f", name});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "  Killing '" + name + "'\n" + Printf("%-15s (%d)\n", name.c_str(), pid));
  // zel waited for the end: the process is gone by the time it returned.
  EXPECT_TRUE(Ended(pid));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  started_.erase(std::find(started_.begin(), started_.end(), pid));
}

TEST_F(ZelIntegration, KillWithExtendedReturnsAfterTheRequest) {
  const std::string path = Copy("zk_e");
  const pid_t pid = Start(path, {});
  const Result r = RunZel({"-k", "-f", "-e", "-q", Name("zk_e")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, Printf("%-15s (%d)\n", Name("zk_e").c_str(), pid));
  EXPECT_TRUE(EndsWithin(pid, 5000));
}

TEST_F(ZelIntegration, KillUnderLongViewShowsCommandLinesAndSparesZel) {
  const std::string path = Copy("zk_l");
  const pid_t pid = Start(path, {"--sleep", "60", "--tag", "x"});
  const Result r = RunZel({"-k", "-l*--tag x", Name("zk_l")}, "n\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "  Killing '" + Name("zk_l") + "'\n" +
                       Printf("zel: Kill %s --sleep 60 --tag x (%d)?", path.c_str(), pid));
  EXPECT_FALSE(Ended(pid));
  // zel's own command line matches its mask; it never kills itself. (The
  // mask is the last word: in zel's command line its '*' meets its own '*'
  // and matches it literally, which only ends the match at the line's end.)
  const std::string mask = "-l*zel_self_" + tag_ + "*";
  const Result self = RunZel({"-n", "-k", "-f", "zel", mask});
  EXPECT_EQ(self.code, 0) << self.err;
  EXPECT_EQ(self.out, "  Killing 'zel'\n");
}

TEST_F(ZelIntegration, KillOfAnotherUsersProcessIsDenied) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to start zel as another user";
  const pid_t pid = Start(Copy("zk_d"), {});
  const Result r = RunZel({"-n", "-k", "-f", Name("zk_d")}, "", 0, false, kNobody);
  ASSERT_NE(r.code, kNoNamespace);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "zel: Access to '" + Name("zk_d") + "' is denied.\n");
  EXPECT_FALSE(Ended(pid));
}

// Processes that ignore SIGKILL: the kill is refused instead of waited
// for without end.
TEST_F(ZelIntegration, InitAndKernelThreadsAreNotWaitedFor) {
  std::vector<pid_t> targets{1};
  if (DIR* proc = opendir("/proc")) {
    while (const dirent* entry = readdir(proc)) {
      const pid_t pid = std::atoi(entry->d_name);
      if (pid > 1 && (StatField(pid, 9) & 0x00200000) != 0) {
        targets.push_back(pid);  // a kernel thread (not seen in every namespace)
        break;
      }
    }
    closedir(proc);
  }
  for (const pid_t pid : targets) {
    const std::string name = RunZel({"-q", "-i", std::to_string(pid)}).out;
    const std::string shown = name.substr(0, name.find('\t'));
    const Result r = RunZel({"-n", "-k", "-f", "-i", std::to_string(pid)});
    EXPECT_EQ(r.code, 0) << pid;
    if (getuid() == 0) {
      EXPECT_EQ(r.err, "zel: Process '" + shown + "' can not be terminated.\n") << pid;
    } else {
      EXPECT_EQ(r.err, "zel: Access to '" + shown + "' is denied.\n") << pid;
    }
    EXPECT_FALSE(Ended(pid));
  }
}

TEST_F(ZelIntegration, PriorityClassesAreSeenInProc) {
  const std::string path = Copy("zp_c");
  const pid_t pid = Start(path, {});
  const std::string name = Name("zp_c");
  struct Case {
    const char* arg;
    const char* name;
    long nice;
  };
  for (const Case& c : {Case{"-pb", "Below Normal", 10}, Case{"-pidle", "Idle", 19},
                        Case{"-pn", "Normal", 0}}) {
    const Result r = RunZel({c.arg, name});
    EXPECT_EQ(r.code, 0) << c.arg << r.err;
    EXPECT_EQ(r.out, Printf("  Setting priority to %s for '%s'\n%-15s (%d)\n", c.name,
                            name.c_str(), name.c_str(), pid))
        << c.arg;
    EXPECT_EQ(StatField(pid, 19), c.nice) << c.arg;
  }
  const Result e = RunZel({"-q", "-e", name});
  EXPECT_EQ(e.out, name + "\t" + std::to_string(pid) + "\tNormal\t" + path + "\t\n");
  if (getuid() == 0) {
    EXPECT_EQ(RunZel({"-q", "-p", "high", name}).out, name + "\t" + std::to_string(pid) + "\n");
    EXPECT_EQ(StatField(pid, 19), -15);
    EXPECT_EQ(RunZel({"-q", "-e", name}).out,
              name + "\t" + std::to_string(pid) + "\tHigh\t" + path + "\t\n");
  }
}

TEST_F(ZelIntegration, UnprivilegedUserCannotRaisePriority) {
  const std::string path = Copy("zp_u");
  const std::string name = Name("zp_u");
  uid_t as = 0;
  pid_t pid = 0;
  if (getuid() == 0) {
    as = kNobody;
    pid = StartAs(kNobody, path, {});
    ASSERT_NE(pid, 0);
  } else {
    pid = Start(path, {});
  }
  const Result r = RunZel({"-n", "-ph", name}, "", 0, false, as);
  ASSERT_NE(r.code, kNoNamespace);
  EXPECT_EQ(r.code, 0);  // matched, none changed
  EXPECT_EQ(r.err, "zel: Process '" + name + "' Can't set a new priority class for 'High'\n");
  EXPECT_EQ(r.out, "  Setting priority to High for '" + name + "'\n");
  EXPECT_EQ(StatField(pid, 19), 0);
  // Lowering it is allowed.
  EXPECT_EQ(RunZel({"-n", "-pi", name}, "", 0, false, as).code, 256 - 1);
  EXPECT_EQ(StatField(pid, 19), 19);
  if (getuid() == 0) {
    // Another user's process cannot be opened for it at all.
    const pid_t mine = Start(Copy("zp_r"), {});
    const Result denied = RunZel({"-n", "-pi", Name("zp_r")}, "", 0, false, kNobody);
    EXPECT_EQ(denied.code, 0);
    EXPECT_EQ(denied.err, "zel: Can't access '" + Name("zp_r") + "'\n");
    EXPECT_EQ(StatField(mine, 19), 0);
  }
}

TEST_F(ZelIntegration, WaitForAnyWithAndWithoutTimeout) {
  const std::string path = Copy("zx_a");
  const pid_t long_one = Start(path, {"--sleep", "60"});
  const std::string name = Name("zx_a");
  const auto start = std::chrono::steady_clock::now();
  const Result timeout = RunZel({"-x", "-d300", "-b", name});
  EXPECT_EQ(timeout.code, 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(timeout.out, std::to_string(long_one) + "\n");
  EXPECT_EQ(timeout.err, "zel: The time-out interval elapsed\n");

  const pid_t short_one = Start(path, {"--sleep", "1"});
  const Result any = RunZel({"-x", "-b", name});
  EXPECT_EQ(any.code, 0) << any.err;
  EXPECT_EQ(any.out, std::to_string(long_one) + "\n" + std::to_string(short_one) + "\n" +
                         Printf("\nzel: Waiting completed for process %s (%d)\n", name.c_str(),
                                short_one));
  EXPECT_FALSE(Ended(long_one));
  // -n decides the exit code instead of the wait.
  EXPECT_EQ(RunZel({"-x", "-n", "-d100", "-b", name}).code, 256 - 2);
  // Nothing matches: no wait at all.
  const Result none = RunZel({"-x", "zx_nosuch"});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.err, "zel: No matching processes found\n");
}

TEST_F(ZelIntegration, WaitForAllWithAndWithoutTimeout) {
  const std::string path = Copy("zx_l");
  const std::string name = Name("zx_l");
  Start(path, {"--sleep", "1"});
  const pid_t two = Start(path, {"--sleep", "2"});
  const Result all = RunZel({"-xa", "-d20000", "-q", name});
  EXPECT_EQ(all.code, 0) << all.err;
  EXPECT_NE(all.out.find("\n\nzel: Waiting for all processes completed\n"), std::string::npos);
  EXPECT_TRUE(Ended(two));

  const pid_t long_one = Start(path, {"--sleep", "60"});
  Start(path, {"--sleep", "1"});
  const Result timeout = RunZel({"-xa", "-d1500", "-b", name});
  EXPECT_EQ(timeout.code, 1);
  EXPECT_EQ(timeout.err, "zel: The time-out interval elapsed\n");
  // One process: the completion line names it.
  kill(long_one, SIGKILL);
  const pid_t single = Start(path, {"--sleep", "1"});
  const Result one = RunZel({"-xa", "-b", "-i", std::to_string(single)});
  EXPECT_EQ(one.code, 0);
  EXPECT_EQ(one.out, std::to_string(single) + "\n" +
                         Printf("\nzel: Waiting completed for process %s (%d)\n", name.c_str(),
                                single));
}

// Unlike the Windows wait (at most 64 processes), the Linux port waits for
// every process of the wait list.
TEST_F(ZelIntegration, WaitForMoreThanSixtyFourProcesses) {
  const std::string path = Copy("zx_m");
  const std::string name = Name("zx_m");
  const pid_t parent = StartForking(path, Copy("zx_mp"), 100);
  ASSERT_EQ(Pids(name, 100).size(), 100u);
  std::thread ender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(parent, SIGKILL);  // the forked copies die with it
  });
  const Result r = RunZel({"-xa", "-d30000", "-b", name});
  ender.join();
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\nzel: Waiting for all processes completed\n"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 100 + 2);
}

TEST_F(ZelIntegration, WaitListOverflowEndsWithThree) {
  const std::string path = Copy("zx_o");
  const std::string name = Name("zx_o");
  StartForking(path, Copy("zx_op"), 257);
  ASSERT_EQ(Pids(name, 257).size(), 257u);
  const Result r = RunZel({"-x", "-d100", "-b", name});
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.err, "zel: Too many processes to wait for\n");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 256);
}

TEST_F(ZelIntegration, ForcedKillOfAThousandProcesses) {
  const std::string path = Copy("zk_t");
  const std::string name = Name("zk_t");
  StartForking(path, Copy("zk_tp"), 1000);
  const std::vector<pid_t> pids = Pids(name, 1000);
  ASSERT_EQ(pids.size(), 1000u);
  const auto start = std::chrono::steady_clock::now();
  const Result r = RunZel({"-n", "-q", "-k", "-f", name});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.code, 256 - (1000 % 256));  // minus 1000, as a byte
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1000);
  for (const pid_t pid : pids) {
    EXPECT_NE(r.out.find(Printf("%-15s (%d)\n", name.c_str(), pid)), std::string::npos) << pid;
    EXPECT_TRUE(Ended(pid)) << pid;
  }
  EXPECT_LT(took, std::chrono::seconds(60));
  std::printf("killed 1000 processes in %.2f s\n", std::chrono::duration<double>(took).count());
}

}  // namespace
