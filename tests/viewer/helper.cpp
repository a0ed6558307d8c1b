// A process for zel's integration tests to find: the tests copy it under
// known names and start it with known arguments and environments.
//   helper [--sleep SECONDS] [--child PATH] [anything else is ignored]
// With --child it starts PATH (another copy) as its child, with the same
// sleep. It dies with its parent, so no copy outlives a test.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  std::string seconds = "60";
  const char* child = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--sleep") == 0) seconds = argv[i + 1];
    if (std::strcmp(argv[i], "--child") == 0) child = argv[i + 1];
  }
  if (child != nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(child, child, "--sleep", seconds.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  const unsigned total = static_cast<unsigned>(std::atoi(seconds.c_str()));
  for (unsigned slept = 0; slept < total; ++slept) sleep(1);
  return 0;
}
