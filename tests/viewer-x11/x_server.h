// A headless X server of the caller's own: Xvfb on a display number it
// picks itself (-displayfd), listening on its local socket only, and
// optionally openbox managing it. Shared by the window tests and the
// window benchmark.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zel_x11 {

// Runs a program with output thrown away; its exit code, or -1.
inline int RunQuiet(const std::vector<std::string>& command,
                    const std::vector<std::string>& extra_env = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp, argv;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts a program with its output thrown away that ends with the calling
// process (a crashed or timed-out test leaves no server behind); keep_fd
// stays open across the exec. Its ID, or 0.
inline pid_t SpawnTied(const std::vector<std::string>& command, const std::string& display = "",
                       int keep_fd = -1) {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid < 0 ? 0 : pid;
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  execvp(argv[0], argv.data());
  _exit(127);
}

class XServer {
 public:
  XServer() = default;
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer() { Stop(); }

  // Starts Xvfb (and openbox when with_wm); display() is then ":N".
  bool Start(bool with_wm) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    xvfb_ = SpawnTied({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen",
                       "0", "1024x768x24"},
                      "", fds[1]);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (xvfb_ != 0 && poll(&p, 1, 15000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
    close(fds[0]);
    if (number.empty()) return false;
    display_ = ":" + number;
    if (!with_wm) return true;
    wm_ = SpawnTied({"openbox", "--sm-disable"}, display_);
    // Up once it answers as the display's window manager (bounded).
    for (int i = 0; wm_ != 0 && i < 300; ++i) {
      if (RunQuiet({"wmctrl", "-m"}, {"DISPLAY=" + display_}) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  void Stop() {
    for (pid_t* pid : {&wm_, &xvfb_}) {
      if (*pid == 0) continue;
      kill(*pid, SIGTERM);
      waitpid(*pid, nullptr, 0);
      *pid = 0;
    }
  }

  const std::string& display() const { return display_; }

 private:
  pid_t xvfb_ = 0;
  pid_t wm_ = 0;
  std::string display_;
};

}  // namespace zel_x11
