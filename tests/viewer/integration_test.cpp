// Runs the built zel against processes the test starts itself: copies of a
// helper program under known names, with known command lines, environments,
// priorities and a parent with a child.
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <sstream>

#include "integration_fixture.h"

namespace {

using namespace zel_it;

TEST_F(ZelIntegration, PlainListingByName) {
  const std::string path = Copy("zelt_a");
  const pid_t pid = Start(path, {"--sleep", "60"});
  const Result r = RunZel({Name("zelt_a")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "\n" + Padded(Name("zelt_a"), pid));
  EXPECT_EQ(r.err, "");
}

TEST_F(ZelIntegration, WholeListingHasOurProcesses) {
  const pid_t pid = Start(Copy("zelt_all"), {});
  const Result r = RunZel({});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find(Padded(Name("zelt_all"), pid)), std::string::npos);
  EXPECT_NE(r.out.find("\nzel "), std::string::npos);  // the viewer itself
}

TEST_F(ZelIntegration, BareQuietExtendedAndMasks) {
  const std::string path = Copy("zelt_b");
  const pid_t first = Start(path, {"--sleep", "60", "--tag", "one"});
  const pid_t second = Start(path, {"--sleep", "60", "--tag", "two"});
  setpriority(PRIO_PROCESS, static_cast<id_t>(second), 10);
  const std::string name = Name("zelt_b");

  Result bare = RunZel({"-b", "zelt_b*"});
  EXPECT_EQ(bare.code, 0);
  EXPECT_EQ(bare.out, std::to_string(first) + "\n" + std::to_string(second) + "\n");

  Result q = RunZel({"-q", "-e", name});
  EXPECT_EQ(q.out, name + "\t" + std::to_string(first) + "\tNormal\t" + path + "\t\n" + name +
                       "\t" + std::to_string(second) + "\tBelow Normal\t" + path + "\t\n");

  Result e = RunZel({"-e", name});
  EXPECT_EQ(e.out.substr(0, e.out.find('\n') + 1), "  PROCESS            PID PRIO     PATH\n");

  Result l = RunZel({"-q", "-l", name});
  EXPECT_EQ(l.out, name + "\t" + std::to_string(first) + "\t" + path + " --sleep 60 --tag one\n" +
                       name + "\t" + std::to_string(second) + "\t" + path +
                       " --sleep 60 --tag two\n");
  Result mask = RunZel({"-b", "-l*--tag two", "ZELT_B*"});  // names fold case
  EXPECT_EQ(mask.out, std::to_string(second) + "\n");
}

TEST_F(ZelIntegration, ById) {
  const pid_t pid = Start(Copy("zelt_id"), {});
  const std::string name = Name("zelt_id");
  EXPECT_EQ(RunZel({"-q", "-i", std::to_string(pid)}).out,
            name + "\t" + std::to_string(pid) + "\t\n");
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(pid));
  char octal[32];
  std::snprintf(octal, sizeof octal, "0%o", static_cast<unsigned>(pid));
  EXPECT_EQ(RunZel({"-b", "-i", hex, octal}).out,
            std::to_string(pid) + "\n" + std::to_string(pid) + "\n");
  const Result bad = RunZel({"-i", "12x"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "\nzel: Invalid process ID '12x'\nzel: Use 'zel -h' for help\n");
  EXPECT_EQ(RunZel({"-i", "0"}).code, 2);
  const Result self = RunZel({"-q", "-i", "$$"});  // not expanded here: invalid
  EXPECT_EQ(self.code, 2);
}

TEST_F(ZelIntegration, ExitCodes) {
  const std::string path = Copy("zelt_n");
  Start(path, {});
  Start(path, {});
  Start(path, {});
  const Result none = RunZel({"zelt_nothing_" + tag_});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "\n");
  EXPECT_EQ(none.err, "zel: No matching processes found\n");
  EXPECT_EQ(RunZel({"-n", "-b", Name("zelt_n")}).code, 256 - 3);  // -3 as a byte
  EXPECT_EQ(RunZel({"-n", "-q", "zelt_nothing"}).code, 1);
  const Result help = RunZel({"-h"});
  EXPECT_EQ(help.code, 1);
  EXPECT_NE(help.out.find("zel v 3.11.1.1"), std::string::npos);
  EXPECT_EQ(RunZel({"-kk", "x"}).code, 2);
  EXPECT_EQ(RunZel({"-m"}).code, 2);
}

TEST_F(ZelIntegration, ParentAndChildAreBothListed) {
  const std::string child = Copy("zelt_kid");
  const std::string parent = Copy("zelt_dad");
  const pid_t dad = Start(parent, {"--sleep", "60", "--child", child});
  pid_t kid = 0;
  for (int i = 0; i < 500 && kid == 0; ++i) {
    const Result r = RunZel({"-b", Name("zelt_kid")});
    if (r.code == 0) kid = std::stoi(r.out);
    else std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_NE(kid, 0);
  std::ifstream stat("/proc/" + std::to_string(kid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string state;
  pid_t parent_id = 0;
  fields >> state >> parent_id;
  EXPECT_EQ(parent_id, dad);
  EXPECT_EQ(RunZel({"-b", "zelt_*" + tag_}).out,
            dad < kid ? std::to_string(dad) + "\n" + std::to_string(kid) + "\n"
                      : std::to_string(kid) + "\n" + std::to_string(dad) + "\n");
}

TEST_F(ZelIntegration, EnvironmentAndModules) {
  const std::string path = Copy("zelt_env");
  const pid_t pid = Start(path, {}, {"ZELT_MARK=hello world", "PATH=/usr/bin"});
  const Result g = RunZel({"-g", Name("zelt_env")});
  EXPECT_EQ(g.code, 0);
  EXPECT_EQ(g.out, "  Environment information for  '" + Name("zelt_env") + "' (" +
                       std::to_string(pid) + ")\nZELT_MARK=hello world\nPATH=/usr/bin  \n");
  const Result m = RunZel({"-m", "-q", Name("zelt_env")});
  EXPECT_EQ(m.code, 0);
  EXPECT_NE(m.out.find(Name("zelt_env") + "\t"), std::string::npos);
  EXPECT_NE(m.out.find("\t" + path + "\n"), std::string::npos);
  EXPECT_NE(m.out.find("libc.so"), std::string::npos);
  const Result u = RunZel({"-b", "-ulibc.so*", Name("zelt_env")});
  EXPECT_EQ(u.out, std::to_string(pid) + "\n");
  EXPECT_EQ(RunZel({"-u", "nosuch.so", Name("zelt_env")}).code, 1);
}

TEST_F(ZelIntegration, DelayAndRepetition) {
  auto start = std::chrono::steady_clock::now();
  const Result d = RunZel({"-d300"});
  EXPECT_EQ(d.code, 0);
  EXPECT_EQ(d.out, "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

  // Repeats while nothing is found, until interrupted.
  const Result forever = RunZel({"-r0", "-d100", "zelt_nosuch"}, "", 1000);
  EXPECT_EQ(forever.code, -SIGINT);
  const size_t messages = static_cast<size_t>(
      std::count(forever.err.begin(), forever.err.end(), '\n'));
  EXPECT_GE(messages, 2u);  // one per pass; a loaded machine makes passes slow

  // Ends as soon as the process appears.
  const std::string path = Copy("zelt_late");
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Start(path, {});
  });
  const Result found = RunZel({"-r0", "-d100", "-b", Name("zelt_late")});
  later.join();
  EXPECT_EQ(found.code, 0);
  EXPECT_EQ(found.out, std::to_string(started_.back()) + "\n");
}

TEST_F(ZelIntegration, InputAndRedirection) {
  const pid_t pid = Start(Copy("zelt_in"), {});
  const Result r = RunZel({"-b", "-@"}, "nosuch\r\n" + Name("zelt_in") + "\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, std::to_string(pid) + "\n");
  const std::string log = dir_ + "/err.txt";
  copies_.push_back(log);
  const Result redirected = RunZel({"zelt_nosuch", "2>" + log});
  EXPECT_EQ(redirected.code, 1);
  EXPECT_EQ(redirected.err, "");
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "zel: No matching processes found\n");
  EXPECT_EQ(RunZel({"x", "2>nul"}).err, "");
}

#if defined(__SANITIZE_ADDRESS__)
#define ZEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEL_SANITIZED 1
#endif
#endif

TEST_F(ZelIntegration, WithoutProcTheSourceCannotBeBound) {
#ifdef ZEL_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime itself needs /proc (covered by the release run)";
#endif
  const Result r = RunZel({"-e"}, "", 0, /*hide_proc=*/true);
  if (r.code == kNoNamespace) GTEST_SKIP() << "no mount namespace here (needs root)";
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(r.err,
            "The Zel Viewer requires TOOLHELP API\nexports in 'KERNEL32.DLL (Windows 9x/NT5)\n"
            "or PSAPI.DLL (Windows NT) installed\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(ZelIntegration, OtherUsersProcessesMatchByName) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to start zel as another user";
  // Started by root: another user cannot read its executable link, so the
  // name is the kernel's command name and the path is empty.
  const std::string path = Copy("zelt_o");
  const pid_t pid = Start(path, {});
  const std::string name = Name("zelt_o");
  ASSERT_LE(name.size(), 15u);
  const Result r = RunZel({"-q", "-e", name}, "", 0, false, 65534);
  ASSERT_NE(r.code, kNoNamespace);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, name + "\t" + std::to_string(pid) + "\tNormal\t\t\n");
  // Its command line is readable to everyone.
  EXPECT_EQ(RunZel({"-q", "-l", name}, "", 0, false, 65534).out,
            name + "\t" + std::to_string(pid) + "\t" + path + "\n");
}

TEST_F(ZelIntegration, HugeWordsAndLines) {
  const std::string huge(10000, 'w');
  EXPECT_EQ(RunZel({huge}).code, 1);
  EXPECT_EQ(RunZel({"-q", "-l" + huge, "-w" + huge, "-u" + huge, "-t" + huge, huge}).code, 1);
  EXPECT_EQ(RunZel({"-i", std::string(10000, '7')}).code, 2);
  EXPECT_EQ(RunZel({"-p" + huge}).code, 2);
  EXPECT_EQ(RunZel({"--" + huge}).code, 2);
  EXPECT_EQ(RunZel({"-@"}, huge + "\n" + huge).code, 1);
  EXPECT_EQ(RunZel({"-b", std::string(10000, '*')}).code, 0);
}

}  // namespace
