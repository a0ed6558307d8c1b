// The pass loop and the listing over a scripted process source: patterns,
// input, exit codes, repetition, the wait and the listing formats.
#include <gtest/gtest.h>

#include <string>

#include "fake_source.h"

namespace zel {
namespace {

using test::FakeSource;
using test::MakeProcess;
using test::RunResult;
using test::RunWith;

const char kNoMatch[] = "zel: No matching processes found\n";

FakeSource ThreeProcesses() {
  FakeSource s;
  s.processes = {MakeProcess(1, "init"), MakeProcess(42, "bash", 1), MakeProcess(43, "bash", 42)};
  return s;
}

TEST(PassLoop, NoArgumentsListsEverything) {
  FakeSource s = ThreeProcesses();
  RunResult r = RunWith(s, {});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "\ninit                   1 \nbash                  42 \nbash                  43 \n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(s.enumerations, 1);
}

TEST(PassLoop, OneEnumerationPerPattern) {
  FakeSource s = ThreeProcesses();
  RunResult r = RunWith(s, {"b*", "-q", "init"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "bash\t42\t\nbash\t43\t\ninit\t1\t\n");
  EXPECT_EQ(s.enumerations, 2);
}

TEST(PassLoop, NothingFound) {
  FakeSource s = ThreeProcesses();
  RunResult r = RunWith(s, {"nosuch"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, kNoMatch);
}

TEST(PassLoop, NegatedCount) {
  FakeSource s = ThreeProcesses();
  EXPECT_EQ(RunWith(s, {"-n", "bash"}).code, -2);
  EXPECT_EQ(RunWith(s, {"-n", "bash", "init"}).code, -3);
  EXPECT_EQ(RunWith(s, {"-n", "nosuch"}).code, 1);
}

TEST(PassLoop, BindingFailure) {
  FakeSource s = ThreeProcesses();
  s.bind_ok = false;
  RunResult r = RunWith(s, {"bash"});
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.err,
            "The Zel Viewer requires TOOLHELP API\nexports in 'KERNEL32.DLL (Windows 9x/NT5)\n"
            "or PSAPI.DLL (Windows NT) installed\n");
  EXPECT_EQ(s.enumerations, 0);
}

TEST(PassLoop, CloseCommandRefusedBeforeThePass) {
  const struct {
    std::vector<std::string> words;
    int code;
    std::vector<std::pair<int32_t, bool>> asked;
  } cases[] = {
      {{"-c5", "bash"}, 2, {{5, false}}},
      {{"-c-32", "-wT*", "bash"}, 2, {{-32, true}}},
      {{"-c", "-w", "bash"}, 0, {{0, true}}},
      {{"-k", "-f", "-c5"}, 2, {}},  // conflicting actions: never asked
      {{"-a", "bash"}, 0, {}},
  };
  for (const auto& c : cases) {
    FakeSource s = ThreeProcesses();
    s.processes[1].window_titles = {"T1"};
    s.close_refusal = "zel: no such command\n";
    RunResult r = RunWith(s, c.words);
    EXPECT_EQ(r.code, c.code) << c.words[0];
    EXPECT_EQ(s.refusal_asked, c.asked) << c.words[0];
    if (c.code == 2 && !c.asked.empty()) {
      EXPECT_EQ(r.err, s.close_refusal);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(s.enumerations, 0);
      EXPECT_TRUE(s.sent.empty());
    }
  }
}

TEST(PassLoop, DelayWithoutPatternsJustWaits) {
  FakeSource s = ThreeProcesses();
  RunResult r = RunWith(s, {"-d20"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(s.enumerations, 0);
}

TEST(PassLoop, ModesNeedPatternsExceptSummary) {
  FakeSource s = ThreeProcesses();
  for (const char* mode : {"-m", "-g"}) {
    RunResult r = RunWith(s, {mode});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "zel: Missing argument(s)\nzel: Use 'zel -h' for help\n");
  }
  RunWith(s, {"-s"});
  EXPECT_EQ(s.enumerations, 1);
}

TEST(PassLoop, RedirectionWordAloneProcessesNoPattern) {
  FakeSource s = ThreeProcesses();
  char name[] = "/tmp/zel_redirect_XXXXXX";
  close(mkstemp(name));
  RunResult r = RunWith(s, {std::string("2>") + name});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(s.enumerations, 0);
  EXPECT_EQ(r.err, "");
  FILE* f = std::fopen(name, "r");
  EXPECT_EQ(test::ReadAll(f), kNoMatch);
  std::fclose(f);
  std::remove(name);
}

TEST(PassLoop, ByIdPatterns) {
  FakeSource s;
  s.processes = {MakeProcess(500, "five"), MakeProcess(8, "eight"), MakeProcess(42, "answer"),
                 MakeProcess(7, "[Access denied]", 0, kDetailsUnavailable)};
  EXPECT_EQ(RunWith(s, {"-q", "-i", "0x1F4"}).out, "five\t500\t\n");
  EXPECT_EQ(RunWith(s, {"-q", "-i", "010"}).out, "eight\t8\t\n");
  EXPECT_EQ(RunWith(s, {"-q", "-i", "42"}).out, "answer\t42\t\n");
  // A placeholder never matches a name, but is selected by ID.
  EXPECT_EQ(RunWith(s, {"-q", "*"}).out, "five\t500\t\neight\t8\t\nanswer\t42\t\n");
  EXPECT_EQ(RunWith(s, {"-b", "-i", "7"}).out, "7\n");
  EXPECT_EQ(RunWith(s, {"-b", "-i", "*"}).out, "500\n8\n42\n7\n");
  for (const char* bad : {"0", "12x", "+1", "0x", "99999999999", "1 "}) {
    RunResult r = RunWith(s, {"-i", bad, "2>"});
    EXPECT_EQ(r.code, 2) << bad;
    EXPECT_EQ(r.err, std::string("\nzel: Invalid process ID '") + bad +
                         "'\nzel: Use 'zel -h' for help\n")
        << bad;
  }
}

TEST(PassLoop, PatternsFromInput) {
  FakeSource s = ThreeProcesses();
  RunResult r = RunWith(s, {"-q", "-@"}, "init\r\nbash\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "init\t1\t\nbash\t42\t\nbash\t43\t\n");
  // An empty line under -i is an invalid process ID.
  RunResult e = RunWith(s, {"-i", "-@"}, "1\n\n");
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.err.find("Invalid process ID ''"), std::string::npos);
  // Command-line patterns come first.
  EXPECT_EQ(RunWith(s, {"-q", "-@", "init"}, "bash\n").out, "init\t1\t\nbash\t42\t\nbash\t43\t\n");
}

TEST(PassLoop, LongInputLinesAreHandedOverInPieces) {
  FakeSource s = ThreeProcesses();
  const std::string line = std::string(10000, 'x') + "\n";
  RunResult r = RunWith(s, {"-@"}, line);
  EXPECT_EQ(r.code, 1);
  // 10000 characters in pieces of 259: 39 patterns, one header each.
  EXPECT_EQ(s.enumerations, 39);
  // Long patterns and names on the command line are safe as well.
  s.processes.push_back(MakeProcess(9, std::string(10000, 'n').c_str()));
  EXPECT_EQ(RunWith(s, {"-b", std::string(10000, '*')}).out, "1\n42\n43\n9\n");
  EXPECT_EQ(RunWith(s, {"-b", std::string(259, 'n')}).out, "9\n");
}

TEST(PassLoop, RepeatWhileNothingFound) {
  FakeSource s;
  s.before_enumeration = [&s](int n) {
    if (n == 3) s.processes = {MakeProcess(5, "late")};
  };
  RunResult r = RunWith(s, {"-r0", "-q", "late"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(s.enumerations, 3);
  EXPECT_EQ(r.err, std::string(kNoMatch) + kNoMatch);
  EXPECT_EQ(r.out, "late\t5\t\n");
}

TEST(PassLoop, RepeatUntilEnoughMatches) {
  FakeSource s;
  s.before_enumeration = [&s](int n) {
    s.processes.clear();
    for (int i = 1; i < n; ++i) s.processes.push_back(MakeProcess(i, "np"));
  };
  // Pass results: 1 (nothing), -1, -2: ends when -2 <= -2.
  RunResult r = RunWith(s, {"-r-2", "-n", "-b", "np"});
  EXPECT_EQ(r.code, -2);
  EXPECT_EQ(s.enumerations, 3);
}

TEST(PassLoop, FoundFlagSurvivesLaterEmptyPasses) {
  FakeSource s;
  s.before_enumeration = [&s](int n) {
    s.processes.clear();
    if (n == 1) s.processes = {MakeProcess(4, "np")};
    if (n == 3) s.processes = {MakeProcess(5, "np"), MakeProcess(6, "np")};
  };
  // Pass 1: -1; pass 2 matches nothing but the found flag stays: 0 and no
  // message; pass 3: -2, which ends the run.
  RunResult r = RunWith(s, {"-r-2", "-n", "-b", "np"});
  EXPECT_EQ(r.code, -2);
  EXPECT_EQ(s.enumerations, 3);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "4\n5\n6\n");
}

TEST(Listing, Headers) {
  FakeSource s = ThreeProcesses();
  EXPECT_EQ(RunWith(s, {"-e", "init"}).out,
            "  PROCESS            PID PRIO     PATH\n"
            "init                   1 Normal   /usr/bin/init \n");
  s.processes[0].command_line = "init splash";
  EXPECT_EQ(RunWith(s, {"-l", "init"}).out,
            "  PROCESS            PID COMMAND LINE\n"
            "init                   1 init splash\n");
  EXPECT_EQ(RunWith(s, {"-r0", "init"}).out.substr(0, 5), "init ");  // no header
  EXPECT_EQ(RunWith(s, {"-w", "nosuch"}).out, "  PROCESS            PID WINDOW TITLE\n");
  EXPECT_EQ(RunWith(s, {"-k", "-f", "nosuch"}).out, "  Killing 'nosuch'\n");
  EXPECT_EQ(RunWith(s, {"-pn", "nosuch"}).out, "  Setting priority to Normal for 'nosuch'\n");
  EXPECT_EQ(RunWith(s, {"-q", "-e", "-w", "-l", "nosuch"}).out, "");
}

TEST(Listing, QuietExtendedHasTrailingTab) {
  FakeSource s = ThreeProcesses();
  s.processes[1].record.priority_class = 0;
  EXPECT_EQ(RunWith(s, {"-q", "-e", "b*"}).out,
            "bash\t42\t---\t/usr/bin/bash\t\nbash\t43\tNormal\t/usr/bin/bash\t\n");
}

TEST(Listing, CommandLineFilter) {
  FakeSource s = ThreeProcesses();
  s.processes[1].command_line = "bash -c 'sleep 1'";
  s.processes[2].command_line = "bash --login";
  // No command line (init) means no match under -l.
  EXPECT_EQ(RunWith(s, {"-q", "-l"}).out,
            "bash\t42\tbash -c 'sleep 1'\nbash\t43\tbash --login\n");
  EXPECT_EQ(RunWith(s, {"-q", "-l*login", "*"}).out, "bash\t43\tbash --login\n");
  RunResult none = RunWith(s, {"-l*nothing*", "bash"});
  EXPECT_EQ(none.code, 1);
}

TEST(Listing, WindowColumn) {
  FakeSource s;
  s.processes = {MakeProcess(0, "Idle"), MakeProcess(10, "editor"), MakeProcess(11, "daemon")};
  s.processes[1].window_titles = {"Doc 1", "Doc 2"};
  s.processes[0].window_titles = {"never read"};
  EXPECT_EQ(RunWith(s, {"-w"}).out,
            "  PROCESS            PID WINDOW TITLE\n"
            "Idle                   0 [] \n"
            "editor                10 [Doc 1],[Doc 2] \n");
  EXPECT_EQ(RunWith(s, {"-w", "-q", "e*"}).out, "editor\t10\t[Doc 1],[Doc 2]\t\n");
  // Close with the window filter sends to every kept window.
  s.sent.clear();
  RunWith(s, {"-w", "-c1001", "editor"});
  ASSERT_EQ(s.sent.size(), 2u);
  EXPECT_EQ(s.sent[0], (std::pair<uintptr_t, uintptr_t>{0x111, 1001}));
  s.sent.clear();
  RunWith(s, {"-w", "-c", "editor"});
  ASSERT_EQ(s.sent.size(), 2u);
  EXPECT_EQ(s.sent[1], (std::pair<uintptr_t, uintptr_t>{0x112, 0xF060}));
}

TEST(Listing, UsageFilter) {
  FakeSource s = ThreeProcesses();
  s.processes[0].module_names = {"init", "libc.so.6"};
  s.processes[2].module_names = {"bash", "libtinfo.so.6", "libc.so.6"};
  EXPECT_EQ(RunWith(s, {"-b", "-ulibc*"}).out, "1\n43\n");
  EXPECT_EQ(RunWith(s, {"-b", "-u", "libtinfo*", "*"}).out, "43\n");
  EXPECT_EQ(RunWith(s, {"-u", "nosuch.dll", "*"}).code, 1);
}

TEST(WaitAtPassEnd, OutcomesAndMessages) {
  FakeSource s = ThreeProcesses();
  s.wait_result = {WaitOutcome::kSignaled, 1};
  RunResult done = RunWith(s, {"-x", "-q", "bash"});
  EXPECT_EQ(done.code, 0);
  EXPECT_EQ(done.out, "bash\t42\t\nbash\t43\t\n\nzel: Waiting completed for process bash (43)\n");
  EXPECT_EQ(s.last_wait_count, 2u);
  EXPECT_FALSE(s.last_wait_all);
  EXPECT_EQ(s.last_wait_timeout, kWaitInfinite);
  EXPECT_EQ(s.open_handles, 0);

  RunResult all = RunWith(s, {"-xa", "-d1500", "-b", "bash"});
  EXPECT_EQ(all.code, 0);
  EXPECT_TRUE(s.last_wait_all);
  EXPECT_EQ(s.last_wait_timeout, 1500u);
  EXPECT_EQ(all.out, "42\n43\n\nzel: Waiting for all processes completed\n");

  s.wait_result = {WaitOutcome::kTimeout, 0};
  RunResult timeout = RunWith(s, {"-x", "-d10", "-b", "bash"});
  EXPECT_EQ(timeout.code, 1);
  EXPECT_EQ(timeout.err, "zel: The time-out interval elapsed\n");

  s.wait_result = {WaitOutcome::kFailed, 0};
  RunResult failed = RunWith(s, {"-x", "-b", "bash"});
  EXPECT_EQ(failed.code, 2);
  EXPECT_EQ(failed.err, "zel: Wait failed\n");
  // -n decides the pass result instead of the wait.
  EXPECT_EQ(RunWith(s, {"-x", "-n", "-b", "bash"}).code, -2);
  // Nothing matched: no wait at all.
  s.last_wait_count = 0;
  EXPECT_EQ(RunWith(s, {"-x", "nosuch"}).code, 1);
  EXPECT_EQ(s.last_wait_count, 0u);
}

TEST(WaitAtPassEnd, ListOverflowEndsWithThree) {
  FakeSource s;
  for (uint32_t i = 1; i <= 257; ++i) s.processes.push_back(MakeProcess(i, "many"));
  RunResult r = RunWith(s, {"-x", "-b", "many"});
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.err, "zel: Too many processes to wait for\n");
  s.processes.pop_back();
  EXPECT_EQ(RunWith(s, {"-x", "-b", "many"}).code, 0);
  EXPECT_EQ(s.last_wait_count, 256u);
}

}  // namespace
}  // namespace zel
