// zel's windows on a headless X server of the tests' own, once without a
// window manager and once under openbox: the -w listing against the window
// program's windows (and wmctrl's window-to-PID pairs), activate and close as
// the program records them, and zel without X as it was before.
#include <dlfcn.h>
#include <link.h>
#include <sched.h>
#include <sys/mount.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "integration_fixture.h"
#include "x_server.h"

namespace {

using zel_it::Result;
using zel_it::RunZel;
using Titles = std::set<std::string>;

struct Program {
  pid_t pid = 0;
  std::string name;
  std::string log;
  std::vector<unsigned long> ids;  // per window, in the order given
};

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the program recorded after it was ready.
std::vector<std::string> Recorded(const Program& program) {
  std::vector<std::string> lines = ReadLines(program.log);
  const auto ready = std::find(lines.begin(), lines.end(), "ready");
  return ready == lines.end() ? std::vector<std::string>{}
                              : std::vector<std::string>(ready + 1, lines.end());
}

// Waits (bounded) until the program has recorded line; true when it has.
bool WaitForRecord(const Program& program, const std::string& line, int ms = 5000) {
  for (int waited = 0; waited <= ms; waited += 10) {
    const std::vector<std::string> lines = Recorded(program);
    if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

// pid -> titles of zel's quiet window listing ("name\tpid\t[a],[b]\t").
std::map<unsigned long, Titles> ParseQuiet(const std::string& out) {
  std::map<unsigned long, Titles> listed;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    const size_t open = line.find('[');
    const size_t close = line.rfind(']');
    if (tab == std::string::npos || open == std::string::npos || close == std::string::npos)
      continue;
    Titles& titles = listed[std::stoul(line.substr(tab + 1))];
    const std::string joined = line.substr(open + 1, close - open - 1);
    for (size_t at = 0;;) {
      const size_t next = joined.find("],[", at);
      titles.insert(joined.substr(at, next == std::string::npos ? std::string::npos : next - at));
      if (next == std::string::npos) break;
      at = next + 3;
    }
  }
  return listed;
}

class X11Fixture : public zel_it::ZelIntegration {
 protected:
  void StartServer(bool with_wm) {
    ASSERT_TRUE(server_.Start(with_wm)) << "Xvfb" << (with_wm ? " with openbox" : "");
    setenv("DISPLAY", server_.display().c_str(), 1);
  }

  void TearDown() override {
    ZelIntegration::TearDown();
    server_.Stop();
  }

  // Starts a copy of the window program (ZEL_HELPER) with the windows and
  // waits until it has shown them.
  Program Open(const std::vector<std::string>& windows) {
    Program program;
    // Each program under a name of its own.
    const std::string base = "xw" + std::to_string(logs_++) + "_";
    program.log = dir_ + "/" + base + "log";
    copies_.push_back(program.log);
    const std::string path = Copy(base);
    program.name = Name(base);
    std::vector<std::string> args{"--log", program.log};
    args.insert(args.end(), windows.begin(), windows.end());
    program.pid = Start(path, args);
    for (int i = 0; i < 1500; ++i) {
      const std::vector<std::string> lines = ReadLines(program.log);
      if (std::find(lines.begin(), lines.end(), "ready") != lines.end()) {
        for (const std::string& line : lines) {
          if (line.rfind("window ", 0) == 0) {
            program.ids.push_back(std::stoul(line.substr(line.rfind(' ') + 1)));
          }
        }
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(program.ids.size(), windows.size()) << "the window program did not get ready";
    program.ids.resize(windows.size());
    return program;
  }

  zel_x11::XServer server_;
  int logs_ = 0;
};

class X11Windows : public X11Fixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    X11Fixture::SetUp();
    StartServer(GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(, X11Windows, ::testing::Values(false, true), [](const auto& info) {
  return info.param ? "Openbox" : "NoWindowManager";
});

// wmctrl lists only the clients of a window manager: its comparison runs under openbox alone.
class X11WindowsUnderManager : public X11Windows {};
INSTANTIATE_TEST_SUITE_P(, X11WindowsUnderManager, ::testing::Values(true),
                         [](const auto&) { return "Openbox"; });

TEST_P(X11Windows, ListsTheProgramsWindows) {
  const Program p = Open({":Main", "t:Dialog", "o:Tip", "u:Hidden", "n:NoPid", "l:Lat\xe9n",
                          ":Ctl\x01x", ":", ":Ünïcode", "i:Mini"});
  // Override-redirect windows (menus, tooltips) and unmapped ones need -e.
  const Titles visible = {"Main", "Dialog", "NoPid", "Lat\xc3\xa9n", "Ctl x", "Ünïcode", "Mini"};
  Titles all = visible;
  all.insert({"Hidden", "Tip"});
  const struct {
    std::vector<std::string> args;
    Titles titles;  // empty: nothing matches
  } cases[] = {
      {{"-q", "-w"}, visible},
      {{"-q", "-e", "-w"}, all},
      {{"-q", "-w*I*"}, {"Main", "Dialog", "NoPid", "Mini"}},
      {{"-q", "-e", "-w*d*"}, {"Dialog", "Hidden", "NoPid", "Ünïcode"}},
      {{"-q", "-wlat?n"}, {}},  // é is two bytes
      {{"-q", "-wNone"}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(p.name);
    const Result r = RunZel(args);
    if (c.titles.empty()) {
      EXPECT_EQ(r.code, 1) << c.args.back();
      EXPECT_EQ(r.out, "");
      continue;
    }
    EXPECT_EQ(r.code, 0) << c.args.back() << r.err;
    const auto listed = ParseQuiet(r.out);
    ASSERT_EQ(listed.size(), 1u) << r.out;
    EXPECT_EQ(listed.begin()->first, static_cast<unsigned long>(p.pid));
    EXPECT_EQ(listed.begin()->second, c.titles) << c.args.back();
  }
}

TEST_P(X11WindowsUnderManager, SamePidsAsWmctrl) {
  const Program a = Open({":Alpha", ":Beta", "n:Gamma"});
  const Program b = Open({":Delta"});
  const auto listed = ParseQuiet(RunZel({"-q", "-w"}).out);
  std::map<unsigned long, unsigned long> wmctrl_pid;  // window -> PID
  std::istringstream lines(Output("wmctrl -lp"));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string id, desktop;
    unsigned long pid = 0;
    if (fields >> id >> desktop >> pid) wmctrl_pid[std::stoul(id, nullptr, 16)] = pid;
  }
  const struct {
    const Program& program;
    size_t window;
    const char* title;
    bool has_pid;  // sets _NET_WM_PID, which is all wmctrl reads
  } cases[] = {
      {a, 0, "Alpha", true}, {a, 1, "Beta", true}, {a, 2, "Gamma", false}, {b, 0, "Delta", true}};
  for (const auto& c : cases) {
    const unsigned long pid = static_cast<unsigned long>(c.program.pid);
    ASSERT_EQ(wmctrl_pid.count(c.program.ids[c.window]), 1u) << c.title;
    EXPECT_EQ(wmctrl_pid[c.program.ids[c.window]], c.has_pid ? pid : 0ul) << c.title;
    // zel takes the owner from the server where wmctrl has none.
    ASSERT_EQ(listed.count(pid), 1u) << c.title;
    EXPECT_EQ(listed.at(pid).count(c.title), 1u) << c.title;
  }
}

TEST_P(X11Windows, ActivateFocusesTheMainWindow) {
  const struct {
    std::vector<std::string> windows;
    bool minimise_first;  // zel -c-32 first
    bool restored;        // minimised before: mapped again
  } cases[] = {
      {{":Main", "t:Dialog", "o:Tip"}, false, false},
      {{"i:Mini", "o:Tip", "u:Hidden"}, false, true},
      {{":Plain", "o:Tip"}, true, true},
  };
  for (const auto& c : cases) {
    const Program p = Open(c.windows);
    if (c.minimise_first) {
      EXPECT_EQ(RunZel({"-c-32", p.name}).code, 0);
      EXPECT_TRUE(WaitForRecord(p, "unmapped 0"));
    }
    const Result r = RunZel({"-a", p.name});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(WaitForRecord(p, "focus 0")) << c.windows[0];
    if (c.restored) {
      EXPECT_TRUE(WaitForRecord(p, "mapped 0", 0));
    }
    std::string focused;
    for (int i = 0; i < 100 && focused != std::to_string(p.ids[0]) + "\n"; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      focused = Output("xdotool getwindowfocus");
    }
    EXPECT_EQ(focused, std::to_string(p.ids[0]) + "\n") << c.windows[0];
  }
  // Override-redirect and unmapped windows are never the main window.
  const Program none = Open({"o:Tip", "u:Hidden"});
  const Result r = RunZel({"-a", none.name});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "zel: Process '" + none.name +
                       "' doesn't contain any windows which I could send a message.\n");
}

TEST_P(X11Windows, CloseReachesExactlyTheWindowsItShould) {
  const std::string refused =
      "zel: Close command 5 has no equivalent for X11 windows: -c closes, -c-32 minimises, "
      "-c-96 closes and -c-288 restores\n";
  const std::string refused_with_w =
      "zel: Close command -32 has no equivalent for X11 windows: with -w only -c (close) is "
      "taken\n";
  const struct {
    std::vector<std::string> args;
    std::set<std::string> deleted;
    std::string err;
  } cases[] = {
      {{"-c"}, {"delete 0"}, ""},
      {{"-c-96"}, {"delete 0"}, ""},
      {{"-c", "-w*i*"}, {"delete 0", "delete 1"}, ""},
      {{"-c", "-e", "-w*i*"}, {"delete 0", "delete 1", "delete 2", "delete 3"}, ""},
      {{"-c5"}, {}, refused},
      {{"-c-32", "-wMain"}, {}, refused_with_w},
  };
  for (const auto& c : cases) {
    const Program p = Open({":Main", "t:Dialog", "u:Hidden", "o:Tip"});
    std::vector<std::string> args = c.args;
    args.push_back(p.name);
    const Result r = RunZel(args);
    EXPECT_EQ(r.code, c.err.empty() ? 0 : 2) << args[0];
    EXPECT_EQ(r.err, c.err);
    for (const std::string& line : c.deleted) EXPECT_TRUE(WaitForRecord(p, line)) << args[0];
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // nothing more comes
    std::set<std::string> deleted;
    for (const std::string& line : Recorded(p)) {
      if (line.rfind("delete", 0) == 0) deleted.insert(line);
    }
    EXPECT_EQ(deleted, c.deleted) << args[0];
  }
}

TEST_P(X11Windows, CloseWithoutTheDeleteProtocol) {
  const Program p = Open({"d:Plain"});
  EXPECT_EQ(RunZel({"-c", p.name}).code, 0);
  if (GetParam()) {
    // The window manager's close of such a window ends its client.
    EXPECT_TRUE(WaitForRecord(p, "lost"));
  } else {
    EXPECT_TRUE(WaitForRecord(p, "destroyed 0"));
  }
}

// The loader finds libxcb in the system's folders whatever its search path
// says; an empty file is mounted over it instead, in a mount namespace of
// zel's own.
bool HideXcb() {
  void* xcb = dlopen("libxcb.so.1", RTLD_NOW);
  link_map* map = nullptr;
  if (xcb == nullptr || dlinfo(xcb, RTLD_DI_LINKMAP, &map) != 0) return false;
  char real[PATH_MAX];
  if (realpath(map->l_name, real) == nullptr) return false;
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("/dev/null", real, nullptr, MS_BIND, nullptr) == 0;
}

TEST_F(X11Fixture, WithoutXAsBefore) {
  StartServer(false);
  const Program p = Open({":Main"});
  const std::string no_window =
      "zel: Process '" + p.name + "' doesn't contain any windows which I could send a message.\n";
  const std::string header = zel_it::Printf("  %-13s %8s %-8s\n", "PROCESS", "PID", "WINDOW TITLE");
  const struct {
    const char* how;
    const char* display;  // nullptr: unset
    bool hide_xcb;
  } ways[] = {{"no DISPLAY", nullptr, false},
              {"no server", ":65000", false},
              {"no X library", server_.display().c_str(), true}};
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out, err;
  } runs[] = {
      {{"-w"}, 1, header, "zel: No matching processes found\n"},
      {{"-a"}, 0, "\n", no_window},
      {{"-c5"}, 0, "\n", no_window},  // not refused: no window to send it to
  };
  const std::string display = server_.display();
  for (const auto& way : ways) {
    if (way.display != nullptr) {
      setenv("DISPLAY", way.display, 1);
    } else {
      unsetenv("DISPLAY");
    }
    for (const auto& run : runs) {
      std::vector<std::string> args = run.args;
      args.push_back(p.name);
      const Result r = RunZel(args, "", 0, false, 0, way.hide_xcb ? HideXcb : nullptr);
      if (r.code == zel_it::kNoNamespace) GTEST_SKIP() << "no mount namespace for " << way.how;
      EXPECT_EQ(r.code, run.code) << way.how << " " << args[0];
      EXPECT_EQ(r.out, run.out) << way.how << " " << args[0];
      EXPECT_EQ(r.err, run.err) << way.how << " " << args[0];
    }
  }
  setenv("DISPLAY", display.c_str(), 1);
  // The same program's window is seen with the library and the server.
  EXPECT_EQ(RunZel({"-w", p.name}).code, 0);
}

}  // namespace
