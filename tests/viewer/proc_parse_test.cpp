// The Linux source: parsers of /proc texts, and the source on this
// machine's own /proc.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "priority.h"
#include "source/linux/proc_parse.h"
#include "source/linux/proc_source.h"

namespace zel {
namespace {

using namespace linux_proc;

TEST(ProcParse, StatWithAwkwardCommandNames) {
  const std::string stat =
      "1234 (a) b (c)) S 77 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 -5 1 0 100 1000 "
      "50 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 2 0 0 0";
  auto fields = ParseStat(stat);
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->comm, "a) b (c)");
  EXPECT_EQ(fields->parent_id, 77u);
  EXPECT_EQ(fields->nice, -5);
  EXPECT_EQ(fields->policy, 2u);
  EXPECT_FALSE(fields->kernel_thread);
  // Field 9, the process flags, marks kernel threads.
  const auto kernel = ParseStat(
      "2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 3 0 0 "
      "18446744073709551615 0 0 0 0 0 0 0 2147483647 0 0 0 0 17 1 0 0 0 0 0");
  ASSERT_TRUE(kernel);
  EXPECT_TRUE(kernel->kernel_thread);
  EXPECT_FALSE(ParseStat("garbage"));
  EXPECT_FALSE(ParseStat("1 (x) S"));
  EXPECT_FALSE(ParseStat("1 (x) S notanumber"));
}

TEST(ProcParse, PriorityClassesFromPolicyAndNice) {
  EXPECT_EQ(PriorityClassOf(1, 0), kRealtimePriorityClass);
  EXPECT_EQ(PriorityClassOf(2, 19), kRealtimePriorityClass);
  EXPECT_EQ(PriorityClassOf(0, -20), kHighPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, -15), kHighPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, -14), kAboveNormalPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, -1), kAboveNormalPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, 0), kNormalPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, 1), kBelowNormalPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, 14), kBelowNormalPriorityClass);
  EXPECT_EQ(PriorityClassOf(0, 15), kIdlePriorityClass);
  // Setting a class and reading it back gives the same class.
  for (const PriorityEntry& entry : kPriorityTable) {
    if (entry.value == kRealtimePriorityClass) continue;
    EXPECT_EQ(PriorityClassOf(0, *NiceOfPriorityClass(entry.value)), entry.value) << entry.name;
  }
  EXPECT_EQ(NiceOfPriorityClass(kIdlePriorityClass), 19);
  EXPECT_EQ(NiceOfPriorityClass(kBelowNormalPriorityClass), 10);
  EXPECT_EQ(NiceOfPriorityClass(kAboveNormalPriorityClass), -5);
  EXPECT_EQ(NiceOfPriorityClass(kHighPriorityClass), -15);
  EXPECT_EQ(NiceOfPriorityClass(kRealtimePriorityClass), -20);
  EXPECT_FALSE(NiceOfPriorityClass(0x1234));
}

TEST(ProcParse, CommandLineAndEnvironment) {
  EXPECT_EQ(JoinCommandLine(std::string("sleep\0" "30\0", 9)).value_or("?"), "sleep 30");
  EXPECT_FALSE(JoinCommandLine(std::string("\0", 1)));
  EXPECT_FALSE(JoinCommandLine(""));
  EXPECT_EQ(SplitEnvironment(std::string("A=1\0\0B=2\0C=3", 13)),
            (std::vector<std::string>{"A=1", "B=2", "C=3"}));
}

TEST(ProcParse, MapsOneModulePerFile) {
  const std::string maps =
      "55d0a000-55d0b000 r--p 00000000 08:01 100 /usr/bin/bash\n"
      "55d0b000-55d0f000 r-xp 00001000 08:01 100 /usr/bin/bash\n"
      "55d10000-55d11000 rw-p 00000000 00:00 0 [heap]\n"
      "7f0000000000-7f0000100000 r-xp 00000000 08:01 200 /lib/x86_64-linux-gnu/libc.so.6\n"
      "55d09000-55d0a000 r--p 00000000 08:01 100 /usr/bin/bash\n"
      "7f0000200000-7f0000201000 rw-p 00000000 08:01 300 /tmp/with space (deleted)\n"
      "7f0000300000-7f0000301000 rw-p 00000000 00:00 0\n"
      "bad line\n";
  const auto files = ParseMaps(maps);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].path, "/usr/bin/bash");
  EXPECT_EQ(files[0].low, 0x55d09000u);
  EXPECT_EQ(files[0].high, 0x55d0f000u);
  EXPECT_EQ(files[1].high - files[1].low, 0x100000u);
  EXPECT_EQ(files[2].path, "/tmp/with space (deleted)");
  EXPECT_EQ(BaseName(files[2].path), "with space");
  EXPECT_EQ(BaseName("plain"), "plain");
}

TEST(ProcSource, BindingNeedsAReadableProcFolder) {
  EXPECT_FALSE(ProcSource("/nonexistent/proc").Bind());
  EXPECT_FALSE(ProcSource("/").Bind());  // no process folders there
  EXPECT_TRUE(ProcSource().Bind());
}

// A proc tree of our own: every process listed once with its name and
// parent, by the one-thread and by the two-thread reading, whether or not a
// stat line ends in a line break.
TEST(ProcSource, ListsEveryProcessOfAProcTree) {
  for (int count : {10, 300}) {
    SCOPED_TRACE(count);
    char root[] = "/tmp/zel-proc-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    for (int pid = 1; pid <= count; ++pid) {
      const std::string dir = std::string(root) + "/" + std::to_string(pid);
      ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
      FILE *f = fopen((dir + "/stat").c_str(), "w");
      ASSERT_NE(f, nullptr);
      fprintf(f, "%d (p%d) S %d 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 1 1 1%s", pid, pid, pid - 1,
              pid % 2 ? "\n" : "");
      fclose(f);
    }
    std::map<uint32_t, std::pair<std::string, uint32_t>> seen;
    ProcSource source(root);
    source.EnumerateProcesses([&](const ProcessRecord &r) {
      EXPECT_TRUE(seen.emplace(r.process_id, std::make_pair(std::string(r.name), r.parent_id)).second);
    });
    ASSERT_EQ(seen.size(), static_cast<size_t>(count));
    for (const auto &[pid, what] : seen) {
      EXPECT_EQ(what.first, "p" + std::to_string(pid));
      EXPECT_EQ(what.second, pid - 1);
    }
    EXPECT_EQ(system(("rm -rf " + std::string(root)).c_str()), 0);
  }
}

TEST(ProcSource, OwnProcess) {
  ProcSource source;
  ASSERT_TRUE(source.Bind());
  const uint32_t self = static_cast<uint32_t>(getpid());
  ProcessRecord own;
  bool seen = false;
  source.EnumerateProcesses([&](const ProcessRecord& r) {
    if (r.process_id == self) {
      own = r;
      seen = true;
    }
  });
  ASSERT_TRUE(seen);
  EXPECT_STREQ(own.name, "zel_unit_tests");
  EXPECT_EQ(own.parent_id, static_cast<uint32_t>(getppid()));
  EXPECT_EQ(own.flags, 0u);
  EXPECT_NE(std::string(own.path).find("zel_unit_tests"), std::string::npos);
  EXPECT_NE(own.priority_class, 0u);

  const auto line = source.ReadCommandLine(own);
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("zel_unit_tests"), std::string::npos);

  setenv("ZEL_PROC_TEST", "1", 1);  // not seen: environ is the start-up environment
  bool has_path = false;
  source.ReadEnvironment(own, [&](const char* v) {
    if (std::strncmp(v, "PATH=", 5) == 0) has_path = true;
    EXPECT_STRNE(v, "ZEL_PROC_TEST=1");
  });
  EXPECT_TRUE(has_path || std::getenv("PATH") == nullptr);

  bool has_self = false;
  source.EnumerateModules(self, [&](const ModuleEntry& m) {
    if (std::strcmp(m.name, "zel_unit_tests") == 0) {
      has_self = true;
      EXPECT_GT(m.size, 0u);
      EXPECT_NE(m.base, 0u);
    }
  });
  EXPECT_TRUE(has_self);
  EXPECT_TRUE(source.CollectWindows(own, nullptr, true).empty());
  EXPECT_EQ(source.FindMainWindow(self), 0u);
}

TEST(ProcSource, GoneProcessGetsThePlaceholder) {
  ProcSource source;
  ProcessRecord record;
  ASSERT_TRUE(source.ReadRecord(0x7FFFFFF0u, record));
  EXPECT_EQ(record.flags, kDetailsUnavailable);
  EXPECT_STREQ(record.name, "[Access denied]");
}

TEST(ProcSource, TerminateAndWaitThroughHandles) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  ProcSource source;
  const ProcessHandle handle = source.OpenProcess(kTerminateAccess, static_cast<uint32_t>(child));
  ASSERT_NE(handle, 0);
  EXPECT_EQ(source.WaitForProcess(handle, 50).outcome, WaitOutcome::kTimeout);
  EXPECT_TRUE(source.SetPriorityClass(handle, kBelowNormalPriorityClass));
  ProcessRecord record;
  source.ReadRecord(static_cast<uint32_t>(child), record);
  EXPECT_EQ(record.priority_class, kBelowNormalPriorityClass);
  EXPECT_TRUE(source.TerminateProcess(handle, 0xFFFFFFFF));
  const WaitResult ended = source.WaitForProcesses({handle}, true, 5000);
  EXPECT_EQ(ended.outcome, WaitOutcome::kSignaled);
  EXPECT_EQ(ended.index, 0u);
  source.CloseProcess(handle);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  // An empty handle fails the whole wait.
  EXPECT_EQ(source.WaitForProcesses({0}, false, 10).outcome, WaitOutcome::kFailed);
  EXPECT_EQ(source.OpenProcess(kSynchronizeAccess, 0x7FFFFFF0u), 0);
}

}  // namespace
}  // namespace zel
