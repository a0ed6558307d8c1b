// Load rounds with wrk as a benchmark runs them, and the output of the shell
// commands around them.
#ifndef TESTS_SUPPORT_SUPPORT_WRK_H
#define TESTS_SUPPORT_SUPPORT_WRK_H

#include <string>

namespace test_support {

// The wrk command before the URL: 50 keep-alive connections, two threads,
// 5 s per round.
extern const char *const kWrkCommand;

// Whether wrk is on the PATH.
bool wrk_available();

// What the shell command writes on its standard output; "" when it cannot
// run.
std::string command_output(const std::string &command);

// Best requests per second of rounds of wrk against url, each round printed
// as a line labelled name (padded to width); 0 when wrk failed or saw socket
// errors or replies other than 2xx (its output then goes to stderr).
double wrk_requests_per_second(const std::string &url, const char *name, int rounds, int width = 8);

}  // namespace test_support

#endif
