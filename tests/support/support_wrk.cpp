#include "support_wrk.h"

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace test_support {

const char *const kWrkCommand = "wrk -t2 -c50 -d5s --timeout 5s ";

bool wrk_available() { return std::system("command -v wrk >/dev/null 2>&1") == 0; }

std::string command_output(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

double wrk_requests_per_second(const std::string &url, const char *name, int rounds, int width) {
  double best = 0;
  for (int round = 0; round < rounds; ++round) {
    std::string out = command_output(std::string("timeout 30 ") + kWrkCommand + "'" + url + "' 2>&1");
    std::smatch m;
    if (out.find("Socket errors") != std::string::npos || out.find("Non-2xx") != std::string::npos ||
        !std::regex_search(out, m, std::regex("Requests/sec:\\s*([0-9.]+)"))) {
      std::fprintf(stderr, "%s: wrk failed:\n%s\n", name, out.c_str());
      return 0;
    }
    double rps = std::stod(m[1]);
    std::printf("  %-*s round %d: %.0f requests/s\n", width, name, round + 1, rps);
    if (rps > best) best = rps;
  }
  return best;
}

}  // namespace test_support
