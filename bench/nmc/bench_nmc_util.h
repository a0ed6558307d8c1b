// The controller as the controller benchmarks run it: started with its data
// folder and log in a fresh temporary folder, stopped and the folder removed
// at the end.
#ifndef BENCH_NMC_BENCH_NMC_UTIL_H
#define BENCH_NMC_BENCH_NMC_UTIL_H

#include <string>

namespace bench_nmc {

// The environment variable's value, "" when unset.
std::string env(const char *name);

class Controller {
 public:
  // Starts the controller (network 0: without SSDP) in a folder made from
  // the mkdtemp pattern, with "--logfile <folder>/log.txt"; program names it.
  Controller(const char *program, const char *pattern, int network);
  Controller(const Controller &) = delete;
  Controller &operator=(const Controller &) = delete;
  // Whether the folder was made and the controller started.
  bool started() const { return started_; }
  const std::string &dir() const { return dir_; }
  // Stops the controller, waits until it stopped and removes the folder;
  // false when the folder could not be removed.
  bool stop();

 private:
  std::string dir_;
  bool started_ = false;
};

}  // namespace bench_nmc

#endif
