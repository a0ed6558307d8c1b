// A process for zel's integration tests to find: the tests copy it under
// known names and start it with known arguments and environments.
//   helper [--sleep SECONDS] [--child PATH] [--fork COUNT [--then PATH]]
//          [anything else is ignored]
// With --child it starts PATH (another copy) as its child, with the same
// sleep. With --fork it forks COUNT copies of itself (same executable, so
// the same name, and the same mappings) that sleep as long; with --then it
// afterwards becomes PATH (another copy, so it no longer has their name).
// Every process dies with its parent, so no copy outlives a test.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void SleepSeconds(unsigned total) {
  for (unsigned slept = 0; slept < total; ++slept) sleep(1);
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  std::string seconds = "60";
  const char* child = nullptr;
  const char* then = nullptr;
  int forks = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--sleep") == 0) seconds = argv[i + 1];
    if (std::strcmp(argv[i], "--child") == 0) child = argv[i + 1];
    if (std::strcmp(argv[i], "--fork") == 0) forks = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--then") == 0) then = argv[i + 1];
  }
  const unsigned total = static_cast<unsigned>(std::atoi(seconds.c_str()));
  if (child != nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(child, child, "--sleep", seconds.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  if (forks > 0) {
    signal(SIGCHLD, SIG_IGN);  // ended copies are reaped at once
    const pid_t parent = getpid();
    for (int i = 0; i < forks; ++i) {
      if (fork() == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(0);
        SleepSeconds(total);
        _exit(0);
      }
    }
    // Ignored SIGCHLD stays ignored in the new program.
    if (then != nullptr) execl(then, then, "--sleep", seconds.c_str(), static_cast<char*>(nullptr));
  }
  SleepSeconds(total);
  return 0;
}
