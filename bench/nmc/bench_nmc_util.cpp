#include "bench_nmc_util.h"

#include <cstdlib>

#include "base/upnp_thread.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"

namespace bench_nmc {

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

Controller::Controller(const char *program, const char *pattern, int network) {
  std::string name = pattern;
  if (!mkdtemp(&name[0])) return;
  dir_ = name;
  nmc_set_network(network);
  lm_nmc_set_appdata_path(dir_.c_str());
  const std::string log = dir_ + "/log.txt";
  const char *argv[] = {program, "--logfile", log.c_str()};
  started_ = lm_nmc_init(3, argv, 0) != 0;
}

bool Controller::stop() {
  lm_nmc_stop();
  for (int i = 0; i < 150 && !lm_nmc_is_terminating(); ++i) Sleep(100);
  nmc_wait_stopped(15000);
  std::string cleanup = "rm -rf " + dir_;
  return std::system(cleanup.c_str()) == 0;
}

}  // namespace bench_nmc
