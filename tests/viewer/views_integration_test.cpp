// zel's listings and views on real processes the tests start: exact texts
// of the listings, -t trees (also the sibling-root case), -s counts of a
// shared library and the window filter that finds nothing on Linux.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "integration_fixture.h"

namespace {

using namespace zel_it;

std::string SelfName() { return "zel_integration_tests"; }


TEST_F(ZelIntegration, ExactListingTexts) {
  const std::string path = Copy("zv_l");
  const pid_t pid = Start(path, {"--sleep", "60", "--tag", "a b"});
  const std::string name = Name("zv_l");
  EXPECT_EQ(RunZel({"-e", name}).out,
            "  PROCESS            PID PRIO     PATH\n" +
                Printf("%-15s %8d %-8s %s \n", name.c_str(), pid, "Normal", path.c_str()));
  EXPECT_EQ(RunZel({"-l", name}).out,
            "  PROCESS            PID COMMAND LINE\n" +
                Printf("%-15s %8d %s --sleep 60 --tag a b\n", name.c_str(), pid, path.c_str()));
  EXPECT_EQ(RunZel({"-e", "-l", name}).out,
            "  PROCESS            PID PRIO     PATH\n" +
                Printf("%-15s %8d %-8s %s %s --sleep 60 --tag a b\n", name.c_str(), pid,
                       "Normal", path.c_str(), path.c_str()));
  EXPECT_EQ(RunZel({"-q", "-e", "-l", name}).out,
            Printf("%s\t%d\tNormal\t%s\t%s --sleep 60 --tag a b\n", name.c_str(), pid,
                   path.c_str(), path.c_str()));
  EXPECT_EQ(RunZel({"-b", "-l", "-e", name}).out, std::to_string(pid) + "\n");
  // With -r the plain listing has no header line.
  EXPECT_EQ(RunZel({"-r1", name}).out, Padded(name, pid));
  // No window system is consulted on Linux: the window filter keeps nothing,
  // and activate and close find no window.
  const Result w = RunZel({"-w", name});
  EXPECT_EQ(w.code, 1);
  EXPECT_EQ(w.out, "  PROCESS            PID WINDOW TITLE\n");
  for (const char* action : {"-a", "-c", "-c1001"}) {
    const Result r = RunZel({"-n", action, name});
    EXPECT_EQ(r.code, 0) << action;
    EXPECT_EQ(r.err, "zel: Process '" + name +
                         "' doesn't contain any windows which I could send a message.\n")
        << action;
  }
}

TEST_F(ZelIntegration, TreeBelowTheTestProcess) {
  const std::string kid_path = Copy("zt_k");
  const pid_t dad = Start(Copy("zt_d"), {"--sleep", "60", "--child", kid_path});
  const std::vector<pid_t> kids = Pids(Name("zt_k"));
  ASSERT_EQ(kids.size(), 1u);
  const pid_t kid = kids[0];
  const pid_t self = getpid();
  const std::string dad_name = Name("zt_d");
  const std::string kid_name = Name("zt_k");
  const std::string pattern = "zt_?" + tag_;

  // Below this process: the helpers and zel itself.
  const Result r = RunZel({"-n", "-i", "-t" + std::to_string(self)});
  EXPECT_EQ(r.code, 256 - 3);
  std::istringstream below(r.out);
  std::string text;
  std::vector<std::string> rows;
  while (std::getline(below, text)) rows.push_back(text);
  ASSERT_EQ(rows.size(), 4u) << r.out;
  EXPECT_EQ(rows[0], Printf("Child processes for %s (%d)", SelfName().c_str(), self));
  // zel started last, so it is the first child.
  EXPECT_EQ(rows[1].substr(0, 19), "  zel             (");
  EXPECT_EQ(rows[2], Printf("  %-15s (%d)", dad_name.c_str(), dad));
  EXPECT_EQ(rows[3], Printf("    %-15s (%d)", kid_name.c_str(), kid));
  const Result matching = RunZel({"-i", "-t" + std::to_string(self), "*"});
  EXPECT_EQ(matching.out.substr(0, matching.out.find('\n') + 1),
            Printf("Child processes for %s (%d)\n", SelfName().c_str(), self));
  // Root by name, with a pattern.
  EXPECT_EQ(RunZel({"-t" + dad_name, pattern}).out,
            Printf("Child processes for %s (%d)matching '%s'\n", dad_name.c_str(), dad,
                   pattern.c_str()) +
                Printf("  %-15s (%d)\n", kid_name.c_str(), kid));
  // Root by name, extended columns.
  const Result e = RunZel({"-e", "-t" + dad_name});
  EXPECT_EQ(e.out, Printf("Child processes for %s (%d)\n", dad_name.c_str(), dad) +
                       Printf("%10s %10s %s", "ID", "PARENT", "MODULE\n") +
                       Printf("%10d %10d   %s\n", kid, dad, kid_name.c_str()));
  // Quiet with the command line.
  EXPECT_EQ(RunZel({"-q", "-l", "-t" + dad_name}).out,
            Printf("  %s\t%d\t%s --sleep 60\n", kid_name.c_str(), kid, kid_path.c_str()));
  // The whole tree: indented two spaces per level plus two, the child one
  // level below its parent.
  const Result all = RunZel({"-t", pattern});
  EXPECT_EQ(all.code, 0);
  std::istringstream lines(all.out);
  std::string line;
  std::vector<std::string> got;
  while (std::getline(lines, line)) got.push_back(line);
  ASSERT_EQ(got.size(), 2u) << all.out;
  const size_t dad_indent = got[0].find_first_not_of(' ');
  EXPECT_GE(dad_indent, 4u);  // at least below the test's parent
  EXPECT_EQ(got[0], std::string(dad_indent, ' ') + Printf("%-15s (%d)", dad_name.c_str(), dad));
  EXPECT_EQ(got[1],
            std::string(dad_indent + 2, ' ') + Printf("%-15s (%d)", kid_name.c_str(), kid));
  // A root that is not running: nothing found.
  EXPECT_EQ(RunZel({"-tzt_nosuch"}).code, 1);
}

TEST_F(ZelIntegration, TreeSiblingRootEndsTheFirstSubtree) {
  // Both are children of this test and match the root; b is started last,
  // so it comes first in the tree, directly followed by a.
  const std::string kid_path = Copy("zsk");
  const pid_t a = Start(Copy("zs_a"), {"--sleep", "60", "--child", kid_path});
  ASSERT_EQ(Pids(Name("zsk")).size(), 1u);
  const pid_t b = Start(Copy("zs_b"), {});
  const std::string root = "zs_?" + tag_;
  // b is the root; a ends b's (empty) subtree and is not taken as a root,
  // so a's child is not shown.
  const Result r = RunZel({"-n", "-t" + root});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, Printf("Child processes for %s (%d)\n", Name("zs_b").c_str(), b));
  // Alone, a's subtree has the child.
  const Result alone = RunZel({"-t" + Name("zs_a")});
  EXPECT_EQ(alone.out, Printf("Child processes for %s (%d)\n", Name("zs_a").c_str(), a) +
                           Printf("  %-15s (%d)\n", Name("zsk").c_str(),
                                  Pids(Name("zsk"))[0]));
}

// Lowest address of the mapping of a file whose name starts with prefix.
unsigned long long MappedBase(pid_t pid, const std::string& prefix) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  unsigned long long low = 0;
  while (std::getline(maps, line)) {
    const size_t slash = line.rfind('/');
    if (slash == std::string::npos || line.compare(slash + 1, prefix.size(), prefix) != 0) {
      continue;
    }
    const unsigned long long start = std::stoull(line.substr(0, line.find('-')), nullptr, 16);
    if (low == 0 || start < low) low = start;
  }
  return low;
}

TEST_F(ZelIntegration, SummaryCountsProcessesPerLibraryBase) {
  const std::string path = Copy("zs_libc");
  const std::string name = Name("zs_libc");
  // Three forked copies share the parent's mappings: one base, count 3.
  StartForking(path, Copy("zs_lp"), 3);
  const std::vector<pid_t> pids = Pids(name, 3);
  ASSERT_EQ(pids.size(), 3u);
  const unsigned long long base = MappedBase(pids[0], "libc.so");
  ASSERT_NE(base, 0u);
  const Result r = RunZel({"-s", "libc*"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            "  MODULE          COUNT BASE       SIZE   PATH\n");
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");  // ends with an empty line
  const std::string base_text = Printf("%16llx", base);
  std::istringstream lines(r.out);
  std::string line;
  int seen = 0;
  while (std::getline(lines, line)) {
    if (line.find(base_text) == std::string::npos) continue;
    ++seen;
    EXPECT_EQ(line.substr(0, 23), Printf("%-15s %6d ", "libc.so.6", 3)) << line;
  }
  EXPECT_EQ(seen, 1) << r.out;
  // Quiet: tab-separated; every line's module matches the mask.
  const Result q = RunZel({"-q", "-s", "libc*"});
  EXPECT_NE(q.out.find(Printf("libc.so.6\t3\t%llx\t", base)), std::string::npos);
  EXPECT_EQ(RunZel({"-s", "zs_no_such_lib*"}).code, 1);
}

}  // namespace
