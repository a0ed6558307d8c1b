// Times zel's window listing (zel -w) against wmctrl -lp on a headless X
// server of its own under openbox, with COUNT windows of the window program
// (tools/x11-windows) open, and prints both times and the ratio.
//   zel_x11_bench ZEL_BINARY WINDOW_PROGRAM [COUNT] [RUNS]
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "x_server.h"

namespace {

// Seconds a run takes (median over runs, taken in turns); -1 when a run fails.
std::vector<double> Measure(const std::vector<std::vector<std::string>>& commands, int runs) {
  std::vector<std::vector<double>> times(commands.size());
  for (int run = 0; run < runs; ++run) {
    for (size_t c = 0; c < commands.size(); ++c) {
      const auto start = std::chrono::steady_clock::now();
      const int code = zel_x11::RunQuiet(commands[c]);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      times[c].push_back(code == 0 ? seconds : -1);
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& t : times) {
    std::sort(t.begin(), t.end());
    medians.push_back(t.front() < 0 ? -1 : t[t.size() / 2]);
  }
  return medians;
}

size_t CountLines(const std::string& command, const std::string& containing) {
  size_t count = 0;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char line[65536];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      for (const char* at = line; (at = std::strstr(at, containing.c_str())) != nullptr; ++at) {
        ++count;
      }
    }
    pclose(pipe);
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zel_x11_bench ZEL_BINARY WINDOW_PROGRAM [COUNT] [RUNS]\n");
    return 2;
  }
  const std::string zel = argv[1];
  const std::string program = argv[2];
  const int count = std::clamp(argc > 3 ? std::atoi(argv[3]) : 200, 1, 2000);
  const int runs = std::clamp(argc > 4 ? std::atoi(argv[4]) : 15, 1, 200);

  zel_x11::XServer server;
  if (!server.Start(true)) {
    std::fprintf(stderr, "zel_x11_bench: Xvfb with openbox did not start\n");
    return 1;
  }
  setenv("DISPLAY", server.display().c_str(), 1);
  char dir[] = "/tmp/zel_x11_bench_XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string log = std::string(dir) + "/log";
  const std::string count_text = std::to_string(count);
  const char* program_argv[] = {program.c_str(),    "--log",        log.c_str(), "--many",
                                count_text.c_str(), "Bench window", nullptr};
  pid_t windows = 0;
  if (posix_spawn(&windows, program.c_str(), nullptr, nullptr, const_cast<char**>(program_argv),
                  environ) != 0) {
    return 1;
  }
  bool ready = false;
  for (int i = 0; i < 3000 && !ready; ++i) {
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) ready = ready || line == "ready";
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Both must see every window before they are timed.
  const size_t by_zel = CountLines(zel + " -q -w 2>/dev/null", "[Bench window ");
  const size_t by_wmctrl = CountLines("wmctrl -lp", "Bench window ");
  int code = 0;
  if (!ready || by_zel != static_cast<size_t>(count) || by_wmctrl != static_cast<size_t>(count)) {
    std::fprintf(stderr, "zel_x11_bench: windows seen: zel %zu, wmctrl %zu of %d\n", by_zel,
                 by_wmctrl, count);
    code = 1;
  } else {
    const std::vector<double> t = Measure({{zel, "-w"}, {"wmctrl", "-lp"}}, runs);
    std::printf("zel window benchmark: %d windows under openbox, median of %d runs\n", count, runs);
    std::printf("  %-18s %8.2f ms\n", "zel -w", t[0] * 1000.0);
    std::printf("  %-18s %8.2f ms\n", "wmctrl -lp", t[1] * 1000.0);
    if (t[0] <= 0 || t[1] <= 0) {
      std::fprintf(stderr, "zel_x11_bench: a command failed\n");
      code = 1;
    } else {
      std::printf("  ratio zel -w / wmctrl -lp %.2f\n", t[0] / t[1]);
    }
  }
  kill(windows, SIGKILL);
  waitpid(windows, nullptr, 0);
  server.Stop();
  unlink(log.c_str());
  rmdir(dir);
  return code;
}
