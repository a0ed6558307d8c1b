// The deferred views over a scripted process source: the -t tree (insertion
// rule, roots by name and ID, the sibling-root case, columns) and the -s
// module summary (order, counts per base address, found flag).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fake_source.h"

namespace zel {
namespace {

using test::FakeSource;
using test::MakeProcess;
using test::RunResult;
using test::RunWith;

// Enumerated in this order; 20's parent (30) comes after it and 5's parent
// is unknown, so both are at depth 0.
//   init(1) ── p30(30)
//           ├─ beta(11)
//           └─ alpha(10) ── gamma(12)
//   orphan(5)   kid20(20)
FakeSource Forest() {
  FakeSource s;
  s.processes = {MakeProcess(1, "init"),       MakeProcess(10, "alpha", 1),
                 MakeProcess(11, "beta", 1),   MakeProcess(12, "gamma", 10),
                 MakeProcess(5, "orphan", 99), MakeProcess(20, "kid20", 30),
                 MakeProcess(30, "p30", 1)};
  return s;
}

TEST(Tree, WholeTreeIndentsTwoSpacesPerLevelPlusTwo) {
  FakeSource s = Forest();
  RunResult r = RunWith(s, {"-n", "-t"});
  EXPECT_EQ(r.code, -7);
  EXPECT_EQ(r.out,
            "  init            (1)\n"
            "    p30             (30)\n"
            "    beta            (11)\n"
            "    alpha           (10)\n"
            "      gamma           (12)\n"
            "  orphan          (5)\n"
            "  kid20           (20)\n");
  EXPECT_EQ(r.err, "");
}

TEST(Tree, RootByNameShowsItsSubtreeOnly) {
  FakeSource s = Forest();
  RunResult r = RunWith(s, {"-n", "-tALPHA"});
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.out, "Child processes for alpha (10)\n  gamma           (12)\n");

  RunResult init = RunWith(s, {"-tinit", "*a*"});
  EXPECT_EQ(init.code, 0);
  EXPECT_EQ(init.out,
            "Child processes for init (1)matching '*a*'\n"
            "  beta            (11)\n"
            "  alpha           (10)\n"
            "    gamma           (12)\n");

  // A root without matching children still counts as found.
  EXPECT_EQ(RunWith(s, {"-n", "-tgamma"}).code, 0);
  RunResult none = RunWith(s, {"-tnosuch"});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "zel: No matching processes found\n");
  // The pattern matches nothing, the empty root still decides found.
  RunResult empty_root = RunWith(s, {"-t", "nosuch"});
  EXPECT_EQ(empty_root.code, 0);
  EXPECT_EQ(empty_root.out, "");
}

TEST(Tree, RootById) {
  FakeSource s = Forest();
  RunResult r = RunWith(s, {"-i", "-t10", "*"});
  EXPECT_EQ(r.out, "Child processes for alpha (10)\n  gamma           (12)\n");
  // The root ID is read as a decimal number, unlike the patterns.
  EXPECT_EQ(RunWith(s, {"-i", "-t0xA", "*"}).code, 1);
  EXPECT_EQ(RunWith(s, {"-i", "-t010", "*"}).out,
            "Child processes for alpha (10)\n  gamma           (12)\n");
  // The root text is a number only with -i: without it "10" is a name.
  EXPECT_EQ(RunWith(s, {"-t10"}).code, 1);
  EXPECT_EQ(RunWith(s, {"-b", "-i", "-t1", "12"}).out, "12\n");
}

TEST(Tree, SiblingRootRightAfterTheFirstEndsItsSubtree) {
  FakeSource s;
  // svc1 and svc2 are children of init; svc2 was enumerated later, so it
  // comes first, directly followed by svc1; only svc1 has children.
  s.processes = {MakeProcess(1, "init"), MakeProcess(2, "svc1", 1), MakeProcess(3, "svc2", 1),
                 MakeProcess(4, "worker", 2), MakeProcess(5, "helper", 3)};
  RunResult r = RunWith(s, {"-n", "-tsvc*"});
  // List: init, svc2, helper, svc1, worker. svc2 is the root, helper its
  // child; svc1 ends that subtree and is not taken as a root, so worker is
  // not shown.
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.out, "Child processes for svc2 (3)\n  helper          (5)\n");

  FakeSource direct;
  direct.processes = {MakeProcess(1, "init"), MakeProcess(2, "svc1", 1),
                      MakeProcess(3, "svc2", 1), MakeProcess(4, "worker", 2)};
  // List: init, svc2, svc1, worker: svc2 has no children and svc1 follows
  // it directly, so svc1's child is not printed either.
  RunResult d = RunWith(direct, {"-n", "-tsvc*"});
  EXPECT_EQ(d.code, 0);
  EXPECT_EQ(d.out, "Child processes for svc2 (3)\n");
}

TEST(Tree, ExtendedQuietBareAndCommandLines) {
  FakeSource s = Forest();
  EXPECT_EQ(RunWith(s, {"-e", "-tinit", "*a"}).out,
            "Child processes for init (1)matching '*a'\n"
            "        ID     PARENT MODULE\n"
            "        11          1   beta\n"
            "        10          1   alpha\n"
            "        12         10     gamma\n");
  EXPECT_EQ(RunWith(s, {"-e", "-t", "gamma"}).out,
            "        ID     PARENT MODULE\n        12         10       gamma\n");
  // Quiet: no headers; the extended form loses its indentation, the plain
  // one keeps it.
  EXPECT_EQ(RunWith(s, {"-q", "-e", "-tinit", "alpha"}).out, "10\t1\talpha\n");
  EXPECT_EQ(RunWith(s, {"-q", "-tinit", "gamma"}).out, "    gamma\t12\n");
  EXPECT_EQ(RunWith(s, {"-b", "-tinit", "*a*"}).out, "11\n10\n12\n");

  s.processes[3].command_line = "gamma --fast";
  s.processes[2].command_line = "beta";
  // -l keeps only processes with a command line and shows it.
  EXPECT_EQ(RunWith(s, {"-l", "-tinit"}).out,
            "Child processes for init (1)\n  beta            (11) beta\n"
            "    gamma           (12) gamma --fast\n");
  EXPECT_EQ(RunWith(s, {"-l*fast", "-q", "-tinit"}).out, "    gamma\t12\tgamma --fast\n");
}

TEST(Tree, PlaceholdersAreInTheTree) {
  FakeSource s = Forest();
  s.processes.push_back(MakeProcess(40, "[Access denied]", 10, kDetailsUnavailable));
  EXPECT_EQ(RunWith(s, {"-b", "-talpha"}).out, "40\n12\n");
  // In the flat listing they never match a name.
  EXPECT_EQ(RunWith(s, {"-b", "[*"}).code, 1);
}

TEST(Tree, ActionsViewsAndWaitsRunOnTheSubtree) {
  FakeSource s = Forest();
  RunResult kill = RunWith(s, {"-n", "-k", "-f", "-tinit", "*a"});
  EXPECT_EQ(kill.code, -3);
  EXPECT_EQ(s.terminated, (std::vector<uint32_t>{11, 10, 12}));
  EXPECT_EQ(kill.out, "  Killing '*a'\nChild processes for init (1)matching '*a'\n"
                      "beta            (11)\nalpha           (10)\ngamma           (12)\n");
  // Counted once per process even when the prompt is declined.
  s.terminated.clear();
  EXPECT_EQ(RunWith(s, {"-n", "-k", "-tinit", "*a"}, "n\nn\n").code, -3);
  EXPECT_TRUE(s.terminated.empty());

  s.processes[3].environment = {"A=1"};
  EXPECT_EQ(RunWith(s, {"-g", "-q", "-talpha", "*"}).out, "A=1\n");

  s.wait_result = {WaitOutcome::kSignaled, 0};
  RunResult wait = RunWith(s, {"-x", "-b", "-talpha", "*"});
  EXPECT_EQ(wait.code, 0);
  EXPECT_EQ(s.last_wait_count, 1u);
  EXPECT_EQ(wait.out, "12\n\nzel: Waiting completed for process gamma (12)\n");
  s.wait_result = {WaitOutcome::kSignaled, 2};
  RunResult three = RunWith(s, {"-x", "-b", "-tinit", "*a"});
  EXPECT_EQ(s.last_wait_count, 3u);
  EXPECT_EQ(three.out, "11\n10\n12\n\nzel: Waiting completed for process gamma (12)\n");
}

std::string SummaryLine(const char* name, int count, unsigned long long base,
                        unsigned long long size, const char* path) {
  char line[512];
  std::snprintf(line, sizeof line,
                sizeof(void*) > 4 ? "%-15s %6d %16llx %8llu %s\n" : "%-15s %6d %8llx %8llu %s\n",
                name, count, base, size, path);
  return line;
}

ModuleEntry Module(const char* name, uint64_t base, uint64_t size, const char* path) {
  ModuleEntry m;
  CopyBounded(m.name, name);
  m.base = base;
  m.size = size;
  CopyBounded(m.path, path);
  return m;
}

FakeSource Libraries() {
  FakeSource s;
  s.processes = {MakeProcess(1, "a"), MakeProcess(2, "b"), MakeProcess(3, "c"),
                 MakeProcess(4, "d")};
  s.processes[0].modules = {Module("libm.so", 0x500, 64, "/lib/libm.so"),
                            Module("libc.so", 0x2000, 100, "/lib/libc.so")};
  s.processes[1].modules = {Module("LIBC.SO", 0x2000, 100, "/other/LIBC.SO")};
  s.processes[2].modules = {Module("libc.so", 0x1000, 100, "/lib/libc.so"),
                            Module("ld.so", 0x100, 10, "/lib/ld.so")};
  s.processes[3].modules = {Module("libc.so", 0x2000, 100, "/lib/libc.so")};
  return s;
}

TEST(Summary, SortedByNameThenBaseAndCountedPerBase) {
  FakeSource s = Libraries();
  RunResult r = RunWith(s, {"-n", "-s", "lib*"});
  EXPECT_EQ(r.code, -4);  // every process is counted
  EXPECT_EQ(r.out, "  MODULE          COUNT BASE       SIZE   PATH\n" +
                       SummaryLine("libc.so", 1, 0x1000, 100, "/lib/libc.so") +
                       SummaryLine("libc.so", 3, 0x2000, 100, "/lib/libc.so") +
                       SummaryLine("libm.so", 1, 0x500, 64, "/lib/libm.so") + "\n");
  RunResult q = RunWith(s, {"-q", "-s", "l?.so"});
  EXPECT_EQ(q.out, "ld.so\t1\t100\t10\t/lib/ld.so\n\n");
  // Without patterns every module is summarised.
  RunResult all = RunWith(s, {"-q", "-s"});
  EXPECT_EQ(all.out.substr(0, all.out.find('\n')), "ld.so\t1\t100\t10\t/lib/ld.so");
}

TEST(Summary, EmptySummaryDecidesTheFoundFlag) {
  FakeSource s = Libraries();
  RunResult none = RunWith(s, {"-q", "-s", "nosuch*"});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "\n");
  EXPECT_EQ(none.err, "zel: No matching processes found\n");
  // The last pattern's summary clears what an earlier one found.
  EXPECT_EQ(RunWith(s, {"-q", "-s", "libm*", "nosuch"}).code, 1);
  EXPECT_EQ(RunWith(s, {"-q", "-s", "nosuch", "libm*"}).code, 0);
}

}  // namespace
}  // namespace zel
