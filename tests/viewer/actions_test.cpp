// zel's actions over the Windows sources on the scripted operations table:
// activate and close (which message goes where), kill with its prompts and
// waits, priority classes, and the access-denied paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_source.h"
#include "fake_win_api.h"
#include "source/win/win_source.h"

namespace zel {
namespace {

using test::FakeWinApi;
using test::RunResult;
using test::RunWith;
using win::WinSource;

constexpr win::LONG kShown = 0x10080000;      // system menu + visible
constexpr win::LONG kMinimised = 0x20000000;  // minimised style bit
constexpr win::DWORD kTimeout = 0x102;

std::string NoWindowMessage(const std::string& name) {
  return "zel: Process '" + name + "' doesn't contain any windows which I could send a message.\n";
}

using Messages = std::vector<std::pair<win::UINT, win::WPARAM>>;

// Two processes with windows and one without.
struct Desktop {
  FakeWinApi api;
  int editor_main = 0;
  int editor_tool = 0;
  int viewer_main = 0;
  Desktop() {
    api.AddProcess(10, "editor.exe", "C:\\editor.exe");
    api.AddProcess(20, "viewer.exe", "C:\\viewer.exe");
    api.AddProcess(30, "daemon.exe", "C:\\daemon.exe");
    editor_main = api.AddWindow(10, kShown, "Editor - a.txt");
    editor_tool = api.AddWindow(10, kShown, "Tools");
    viewer_main = api.AddWindow(20, kShown | kMinimised, "Viewer");
  }
  RunResult Run(std::vector<std::string> words, const std::string& input = "") {
    WinSource source(api);
    return RunWith(source, std::move(words), input);
  }
};

TEST(Activate, RestoresOnlyMinimisedWindowsAndBringsThemForward) {
  Desktop d;
  RunResult editor = d.Run({"-n", "-a", "editor.exe"});
  EXPECT_EQ(editor.code, -1);
  EXPECT_EQ(editor.out, "\n");  // only the header's empty line
  EXPECT_TRUE(d.api.messages.empty());
  EXPECT_EQ(d.api.foreground, FakeWinApi::WindowHandle(d.editor_main));

  RunResult viewer = d.Run({"-n", "-a", "viewer.exe"});
  EXPECT_EQ(viewer.code, -1);
  EXPECT_EQ(d.api.messages, (Messages{{0x112, 0xF120}}));
  EXPECT_EQ(d.api.foreground, FakeWinApi::WindowHandle(d.viewer_main));

  // Without a window: reported, not counted, but the process still matched.
  RunResult daemon = d.Run({"-n", "-a", "daemon.exe"});
  EXPECT_EQ(daemon.code, 0);
  EXPECT_EQ(daemon.err, NoWindowMessage("daemon.exe"));
}

TEST(Close, CommandChoosesTheMessage) {
  struct Case {
    const char* option;
    Messages sent;
  };
  for (const Case& c : {Case{"-c", {{0x112, 0xF060}}}, Case{"-c0", {{0x112, 0xF060}}},
                        Case{"-c1001", {{0x111, 1001}}}, Case{"-c-32", {{0x112, 0xF020}}},
                        Case{"-c-96", {{0x112, 0xF060}}}}) {
    Desktop d;
    RunResult r = d.Run({"-n", c.option, "editor.exe"});
    EXPECT_EQ(r.code, -1) << c.option;
    EXPECT_EQ(d.api.messages, c.sent) << c.option;
  }
  Desktop d;
  RunResult none = d.Run({"-n", "-c", "daemon.exe"});
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(none.err, NoWindowMessage("daemon.exe"));
  EXPECT_TRUE(d.api.messages.empty());
}

TEST(Close, WindowFilterSendsToEveryKeptWindowAndCountsNothing) {
  Desktop d;
  RunResult all = d.Run({"-n", "-c", "-w", "editor.exe"});
  EXPECT_EQ(all.code, 0);  // matched, nothing counted
  EXPECT_EQ(all.out, "  PROCESS            PID WINDOW TITLE\n");
  EXPECT_EQ(d.api.messages, (Messages{{0x112, 0xF060}, {0x112, 0xF060}}));

  Desktop masked;
  masked.Run({"-c7", "-wTool*", "editor.exe"});
  EXPECT_EQ(masked.api.messages, (Messages{{0x111, 7}}));

  // A negative number is sent as it is, as a command identifier.
  Desktop negative;
  negative.Run({"-c-32", "-wEditor*", "editor.exe"});
  EXPECT_EQ(negative.api.messages, (Messages{{0x111, static_cast<win::WPARAM>(-32)}}));

  // A process without a kept window is filtered out before the action.
  Desktop none;
  RunResult daemon = none.Run({"-c", "-w", "daemon.exe"});
  EXPECT_EQ(daemon.code, 1);
  EXPECT_EQ(daemon.err, "zel: No matching processes found\n");
}

TEST(Kill, PromptOnlyYesKills) {
  Desktop d;
  RunResult no = d.Run({"-n", "-k", "editor.exe"}, "n\n");
  EXPECT_EQ(no.code, 0);
  EXPECT_EQ(no.out, "  Killing 'editor.exe'\nzel: Kill editor.exe (10)?");
  EXPECT_TRUE(d.api.terminated.empty());
  EXPECT_EQ(d.api.open_handles, 0);

  for (const char* answer : {"", "\n", "yes\n", "Y\n"}) {
    Desktop k;
    RunResult r = k.Run({"-n", "-k", "*.exe"}, answer);
    const bool yes = answer[0] == 'y' || answer[0] == 'Y';
    // Only the first line counts: one answer for the first process.
    EXPECT_EQ(r.code, yes ? -1 : 0) << answer;
    EXPECT_EQ(k.api.terminated.size(), yes ? 1u : 0u) << answer;
    EXPECT_EQ(r.out, "  Killing '*.exe'\nzel: Kill editor.exe (10)?zel: Kill viewer.exe (20)?"
                     "zel: Kill daemon.exe (30)?")
        << answer;
  }
}

TEST(Kill, ForcedKillTerminatesWithAllOnesAndWaitsInSlices) {
  Desktop d;
  d.api.single_wait_codes = {kTimeout, kTimeout, 0};
  RunResult r = d.Run({"-n", "-k", "-f", "editor.exe"});
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.out, "  Killing 'editor.exe'\neditor.exe      (10)\n");
  EXPECT_EQ(d.api.terminated, (std::vector<std::pair<win::DWORD, win::UINT>>{{10, 0xFFFFFFFF}}));
  EXPECT_EQ(d.api.single_wait_timeouts, (std::vector<win::DWORD>{5000, 5000, 5000}));
  EXPECT_EQ(d.api.open_handles, 0);
  // The name and ID line is printed as it stands, also when quiet.
  Desktop q;
  EXPECT_EQ(q.Run({"-q", "-k", "-f", "viewer.exe"}).out, "viewer.exe      (20)\n");
}

TEST(Kill, ContinueWaitingPrompt) {
  Desktop d;
  d.api.single_wait_codes = {kTimeout, kTimeout, 0};
  RunResult yes = d.Run({"-n", "-k", "editor.exe"}, "y\ny\ny\n");
  EXPECT_EQ(yes.code, -1);
  EXPECT_EQ(yes.out,
            "  Killing 'editor.exe'\nzel: Kill editor.exe (10)?"
            "zel: Continue waiting for process editor.exe (10)?"
            "zel: Continue waiting for process editor.exe (10)?");
  EXPECT_EQ(yes.err, "");

  Desktop stop;
  stop.api.wait_code = kTimeout;
  RunResult no = stop.Run({"-n", "-k", "editor.exe"}, "y\nno\n");
  EXPECT_EQ(no.code, 0);
  EXPECT_EQ(no.err, "zel: Process 'editor.exe' can not be terminated.\n");
  EXPECT_EQ(stop.api.single_wait_timeouts.size(), 1u);
  EXPECT_EQ(stop.api.open_handles, 0);
}

TEST(Kill, ExtendedDoesNotWait) {
  Desktop d;
  d.api.wait_code = kTimeout;
  RunResult r = d.Run({"-n", "-k", "-f", "-e", "editor.exe"});
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(d.api.terminated.size(), 1u);
  EXPECT_TRUE(d.api.single_wait_timeouts.empty());
  d.api.terminate_result = 0;
  RunResult failed = d.Run({"-n", "-k", "-f", "-e", "editor.exe"});
  EXPECT_EQ(failed.code, 0);
  EXPECT_EQ(failed.err, "zel: Process 'editor.exe' can not be terminated.\n");
}

TEST(Kill, AccessDeniedAndRefusedTermination) {
  Desktop d;
  d.api.Find(10)->denied_access = 1;  // terminate
  RunResult denied = d.Run({"-n", "-k", "-f", "editor.exe"});
  EXPECT_EQ(denied.code, 0);
  EXPECT_EQ(denied.err, "zel: Access to 'editor.exe' is denied.\n");
  EXPECT_EQ(denied.out, "  Killing 'editor.exe'\n");

  Desktop refused;
  refused.api.terminate_result = 0;
  RunResult r = refused.Run({"-n", "-k", "-f", "viewer.exe"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "zel: Process 'viewer.exe' can not be terminated.\n");
  EXPECT_TRUE(refused.api.single_wait_timeouts.empty());
  EXPECT_EQ(refused.api.open_handles, 0);
}

TEST(Kill, LongViewShowsTheCommandLineAndSparesTheViewer) {
  Desktop d;
  const win::DWORD own = d.api.own_id;
  d.api.AddProcess(own, "zel.exe", "C:\\zel.exe");
  for (win::DWORD id : {10u, own}) {
    test::FakeProcessImage& p = *d.api.Find(id);
    d.api.WriteParams(p, sizeof(void*),
                      id == own ? u"zel -k -l* *.exe" : u"editor.exe a.txt", u"A=1\0\0", 0x1000);
  }
  RunResult r = d.Run({"-n", "-k", "-l*", "*.exe"}, "y\n");
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.out, "  Killing '*.exe'\nzel: Kill editor.exe a.txt (10)?");
  EXPECT_EQ(d.api.terminated, (std::vector<std::pair<win::DWORD, win::UINT>>{{10, 0xFFFFFFFF}}));
  // The viewer is spared without the long view too.
  Desktop plain;
  plain.api.AddProcess(plain.api.own_id, "zel.exe", "C:\\zel.exe");
  RunResult self = plain.Run({"-n", "-k", "-f", "zel.exe"});
  EXPECT_EQ(self.code, 0);
  EXPECT_EQ(self.out, "  Killing 'zel.exe'\n");
  EXPECT_TRUE(plain.api.terminated.empty());
}

TEST(Priority, SetPrintsAndCounts) {
  Desktop d;
  RunResult r = d.Run({"-n", "-pb", "*.exe"});
  EXPECT_EQ(r.code, -3);
  EXPECT_EQ(r.out,
            "  Setting priority to Below Normal for '*.exe'\neditor.exe      (10)\n"
            "viewer.exe      (20)\ndaemon.exe      (30)\n");
  EXPECT_EQ(d.api.priority_set,
            (std::vector<std::pair<win::DWORD, win::DWORD>>{{10, 0x4000}, {20, 0x4000}, {30, 0x4000}}));
  Desktop q;
  EXPECT_EQ(q.Run({"-q", "-p", "real", "editor.exe"}).out, "editor.exe\t10\n");
  EXPECT_EQ(q.api.priority_set.back().second, 0x100u);
  // Asked once, with the set-information access only.
  EXPECT_EQ(std::count(q.api.open_access.begin(), q.api.open_access.end(), 0x200u), 1);
}

TEST(Priority, AccessDeniedAndRefusedClass) {
  Desktop d;
  d.api.Find(20)->denied_access = 0x200;
  RunResult r = d.Run({"-n", "-ph", "*.exe"});
  EXPECT_EQ(r.code, -2);
  EXPECT_EQ(r.err, "zel: Can't access 'viewer.exe'\n");
  EXPECT_EQ(r.out.find("viewer.exe      (20)"), std::string::npos);

  Desktop refused;
  refused.api.set_priority_result = 0;
  RunResult no = refused.Run({"-n", "-pi", "editor.exe"});
  EXPECT_EQ(no.code, 0);
  EXPECT_EQ(no.err, "zel: Process 'editor.exe' Can't set a new priority class for 'Idle'\n");
  EXPECT_EQ(no.out, "  Setting priority to Idle for 'editor.exe'\n");
  EXPECT_EQ(refused.api.open_handles, 0);
}

TEST(Priority, ExtendedColumnNamesTheClass) {
  Desktop d;
  d.api.Find(10)->priority_class = 0x8000;
  d.api.Find(20)->priority_class = 0x100;
  d.api.Find(30)->modules_readable = false;  // class stays 0
  d.api.AddProcess(40, "idle.exe", "C:\\idle.exe").priority_class = 0x40;
  RunResult r = d.Run({"-q", "-e", "-i", "*"});
  EXPECT_EQ(r.out,
            "editor.exe\t10\tAbove Normal\tC:\\editor.exe\t\n"
            "viewer.exe\t20\tReal Time\tC:\\viewer.exe\t\n"
            "[Unknown]\t30\t---\t\t\n"
            "idle.exe\t40\tIdle\tC:\\idle.exe\t\n");
}

TEST(Wait, MoreThanSixtyFourProcessesFailTheWindowsWait) {
  FakeWinApi api;
  for (win::DWORD id = 100; id < 165; ++id) api.AddProcess(id, "worker.exe", "C:\\worker.exe");
  WinSource source(api);
  RunResult r = RunWith(source, {"-x", "-b", "worker.exe"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "zel: Wait failed\n");
  EXPECT_EQ(api.last_wait_count, 65u);
  EXPECT_EQ(api.open_handles, 0);
  api.processes.pop_back();
  api.wait_code = 63;
  RunResult ok = RunWith(source, {"-x", "-q", "-d250", "worker.exe"});
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(api.last_wait_timeout, 250u);
  EXPECT_FALSE(api.last_wait_all);
  EXPECT_NE(ok.out.find("\nzel: Waiting completed for process worker.exe (163)\n"),
            std::string::npos);
  // A process that cannot be opened leaves an empty handle: the wait fails.
  api.Find(100)->denied_access = 0x100000;
  RunResult unopened = RunWith(source, {"-xa", "-b", "worker.exe"});
  EXPECT_EQ(unopened.code, 2);
  EXPECT_EQ(unopened.err, "zel: Unable to open process worker.exe (100)\nzel: Wait failed\n");
  EXPECT_TRUE(api.last_wait_all);
}

}  // namespace
}  // namespace zel
