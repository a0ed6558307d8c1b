// Times zel's listings of all processes against ps and pgrep on the same
// machine (plain list against ps -e and pgrep -l, tree against
// ps --forest -e, command lines against pgrep -a), with at least 1000 extra
// processes that the benchmark starts itself (and always ends again).
//   zel_bench ZEL_BINARY [EXTRA_PROCESSES] [RUNS]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::vector<pid_t> g_children;

void EndChildren() {
  for (const pid_t pid : g_children) kill(pid, SIGKILL);
  for (const pid_t pid : g_children) waitpid(pid, nullptr, 0);
  g_children.clear();
}

void OnSignal(int) {
  EndChildren();
  _exit(1);
}

bool StartChildren(int count) {
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid < 0) {
      std::perror("zel_bench: fork");
      return false;
    }
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() == 1) _exit(0);
      pause();
      _exit(0);
    }
    g_children.push_back(pid);
  }
  return true;
}

// Runs the command with its output thrown away; returns seconds taken.
double TimeRun(const std::vector<std::string>& command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return seconds;
}

// Median of runs, measured in turns so that load changes hit all alike.
std::vector<double> Measure(const std::vector<std::vector<std::string>>& commands, int runs) {
  std::vector<std::vector<double>> times(commands.size());
  for (int run = 0; run < runs; ++run) {
    for (size_t c = 0; c < commands.size(); ++c) times[c].push_back(TimeRun(commands[c]));
  }
  std::vector<double> medians;
  for (std::vector<double>& t : times) {
    if (std::count_if(t.begin(), t.end(), [](double v) { return v < 0; }) > 0) {
      medians.push_back(-1);
      continue;
    }
    std::sort(t.begin(), t.end());
    medians.push_back(t[t.size() / 2]);
  }
  return medians;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zel_bench ZEL_BINARY [EXTRA_PROCESSES] [RUNS]\n");
    return 2;
  }
  const std::string zel = argv[1];
  const int extra = std::clamp(argc > 2 ? std::atoi(argv[2]) : 1000, 1, 5000);
  const int runs = std::clamp(argc > 3 ? std::atoi(argv[3]) : 15, 1, 200);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  if (!StartChildren(extra)) {
    EndChildren();
    return 1;
  }
  // Each zel run beside the tool that shows the same.
  struct Pair {
    std::vector<std::string> zel_command;
    std::vector<std::string> reference;
  };
  const std::vector<Pair> pairs = {
      {{zel, "-q"}, {"ps", "-e"}},
      {{zel, "-q"}, {"pgrep", "-l", "."}},
      {{zel, "-t"}, {"ps", "--forest", "-e"}},
      {{zel, "-l"}, {"pgrep", "-a", "."}},
  };
  std::vector<std::vector<std::string>> commands;
  for (const Pair& pair : pairs) {
    for (const auto* command : {&pair.zel_command, &pair.reference}) {
      if (std::find(commands.begin(), commands.end(), *command) == commands.end()) {
        commands.push_back(*command);
      }
    }
  }
  const std::vector<double> t = Measure(commands, runs);
  EndChildren();

  auto label = [&](const std::vector<std::string>& command) {
    std::string text = command[0] == zel ? "zel" : command[0];
    for (size_t i = 1; i < command.size(); ++i) text += " " + command[i];
    return text;
  };
  auto time_of = [&](const std::vector<std::string>& command) {
    return t[static_cast<size_t>(std::find(commands.begin(), commands.end(), command) -
                                 commands.begin())];
  };
  std::printf("zel listing benchmark: %d extra processes, median of %d runs\n", extra, runs);
  for (size_t i = 0; i < commands.size(); ++i) {
    std::printf("  %-18s %8.2f ms\n", label(commands[i]).c_str(), t[i] * 1000.0);
  }
  if (std::count_if(t.begin(), t.end(), [](double v) { return v <= 0; }) > 0) {
    std::fprintf(stderr, "zel_bench: a command failed\n");
    return 1;
  }
  for (const Pair& pair : pairs) {
    const std::string name = label(pair.zel_command) + " / " + label(pair.reference);
    // The plain list, the one a batch file asks for most, has a target.
    const bool plain = name == "zel -q / ps -e";
    std::printf("  ratio %-32s %.2f%s\n", name.c_str(), time_of(pair.zel_command) / time_of(pair.reference),
                plain ? " (target <= 0.25)" : "");
  }
  return 0;
}
