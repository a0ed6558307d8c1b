// Runs the built zel against processes the tests start themselves: a
// runner that captures zel's output and exit code, and a fixture that copies
// the helper program under unique names and ends every copy it started.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zel_it {


struct Result {
  int code = -1;       // exit code, or -signal
  std::string out;
  std::string err;
};

inline std::string Slurp(int fd) {
  std::string text;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs zel with args and input on standard input; kill_after_ms > 0 sends
// SIGINT after that long (for runs that never end by themselves).
// Exit codes of the child when it cannot hide /proc from zel.
inline constexpr int kNoNamespace = 120;

// Runs zel as another user when as_user is not 0; in_child, when given,
// runs in the child before zel starts (false: the child ends with
// kNoNamespace).
inline Result RunZel(const std::vector<std::string>& args, const std::string& input = "",
              int kill_after_ms = 0, bool hide_proc = false, uid_t as_user = 0,
              const std::function<bool()>& in_child = nullptr) {
  int out[2], err[2], in[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  EXPECT_EQ(pipe(in), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) close(fd);
    if (hide_proc) {
      // An empty folder over /proc, in a mount namespace of zel's own.
      if (unshare(CLONE_NEWNS) != 0 ||
          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("none", "/proc", "tmpfs", 0, nullptr) != 0) {
        _exit(kNoNamespace);
      }
    }
    if (as_user != 0 && (setgid(as_user) != 0 || setuid(as_user) != 0)) _exit(kNoNamespace);
    if (in_child && !in_child()) _exit(kNoNamespace);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ZEL_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZEL_BINARY, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(in[0]);
  if (!input.empty()) {
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  }
  close(in[1]);
  if (kill_after_ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms));
    kill(pid, SIGINT);
  }
  Result r;
  std::thread error_reader([&] { r.err = Slurp(err[0]); });
  r.out = Slurp(out[0]);
  error_reader.join();
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return r;
}

class ZelIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/zel_it_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    tag_ = std::to_string(getpid());
  }

  void TearDown() override {
    for (const pid_t pid : started_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (const std::string& file : copies_) unlink(file.c_str());
    rmdir(dir_.c_str());
  }

  // A copy of the helper named base + the test's tag.
  std::string Copy(const std::string& base) {
    const std::string path = dir_ + "/" + base + tag_;
    std::ifstream src(ZEL_HELPER, std::ios::binary);
    std::ofstream dst(path, std::ios::binary);
    dst << src.rdbuf();
    dst.close();
    chmod(path.c_str(), 0755);
    copies_.push_back(path);
    return path;
  }

  pid_t Start(const std::string& path, std::vector<std::string> args,
              const std::vector<std::string>& env = {}) {
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(),
                          env.empty() ? environ : envp.data()),
              0);
    started_.push_back(pid);
    WaitUntilExecuted(pid, path);
    return pid;
  }

  // The exec has happened once /proc shows the copy as the executable.
  static void WaitUntilExecuted(pid_t pid, const std::string& path) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    for (int i = 0; i < 500; ++i) {
      char target[4096];
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Starts the copy as another user (root only); 0 when that fails.
  pid_t StartAs(uid_t uid, const std::string& path, std::vector<std::string> args) {
    chmod(dir_.c_str(), 0755);
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgid(uid) != 0 || setuid(uid) != 0) _exit(kNoNamespace);
      std::vector<char*> argv{const_cast<char*>(path.c_str())};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    if (pid < 0) return 0;
    started_.push_back(pid);
    WaitUntilExecuted(pid, path);
    return pid;
  }

  // Starts count processes named after children_path, forked by one that
  // then becomes parent_path; returns the parent once it has.
  pid_t StartForking(const std::string& children_path, const std::string& parent_path,
                     int count) {
    std::vector<char*> argv{const_cast<char*>(children_path.c_str())};
    std::string n = std::to_string(count);
    for (const char* a : {"--fork", n.c_str(), "--then", parent_path.c_str()}) {
      argv.push_back(const_cast<char*>(a));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, children_path.c_str(), nullptr, nullptr, argv.data(), environ),
              0);
    started_.push_back(pid);
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    for (int i = 0; i < 2000; ++i) {
      char target[4096];
      const ssize_t got = readlink(link.c_str(), target, sizeof target - 1);
      if (got > 0 && std::string(target, static_cast<size_t>(got)) == parent_path) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid;
  }

  // IDs of the processes zel lists under the name (waits until there are
  // at least count of them, at most about ten seconds).
  std::vector<pid_t> Pids(const std::string& name, size_t count = 1) {
    std::vector<pid_t> pids;
    for (int i = 0; i < 1000 && pids.size() < count; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pids.clear();
      std::istringstream lines(RunZel({"-b", name}).out);
      std::string line;
      while (std::getline(lines, line)) pids.push_back(std::stoi(line));
    }
    return pids;
  }

  std::string Name(const std::string& base) const { return base + tag_; }

  std::string dir_;
  std::string tag_;
  std::vector<pid_t> started_;
  std::vector<std::string> copies_;
};

// State letter of a process in /proc; 0 when it is gone.
inline char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) return 0;
  const size_t at = line.rfind(')') + 2;
  return at < line.size() ? line[at] : 0;
}

inline bool Ended(pid_t pid) {
  const char state = ProcessState(pid);
  return state == 0 || state == 'Z' || state == 'X';
}

// Waits (bounded) until the process has ended.
inline bool EndsWithin(pid_t pid, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (Ended(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Ended(pid);
}

// Field of /proc/PID/stat, counted from 1.
inline long StatField(pid_t pid, int field) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1000;
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string value;
  for (int f = 3; f <= field && rest >> value; ++f) {
  }
  return std::stol(value);
}

inline std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Printf(const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

inline std::string Padded(const std::string& name, pid_t pid) {
  char line[512];
  std::snprintf(line, sizeof line, "%-15s %8u \n", name.c_str(), static_cast<unsigned>(pid));
  return line;
}

}  // namespace zel_it
