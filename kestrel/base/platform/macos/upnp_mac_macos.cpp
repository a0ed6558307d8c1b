// macOS: the listing of "/usr/sbin/arp -an", captured in a temporary file,
// and one echo request through "/sbin/ping -c 1"; both run without a shell.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "base/upnp_fd.h"
#include "base/upnp_mac_platform.h"

namespace {

// Runs argv[0] with its standard output into `out_fd` (or /dev/null when
// -1) and waits for its end.
void run(char *const argv[], int out_fd) {
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 2);
    }
    int out = out_fd >= 0 ? out_fd : null;
    // dup2 onto itself keeps close-on-exec: clear it by hand then.
    if (out == 1) {
      fcntl(1, F_SETFD, 0);
    } else {
      dup2(out, 1);
    }
    // The program gets its standard descriptors only.
    if (null > 2) close(null);
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

bool upnp_mac_platform_read_table(std::string *table) {
  table->clear();
  // Each call has its own randomly named file, so lookups may run at once.
  char path[] = "/tmp/arpXXXXXX";
  int fd = upnp_mkstemp(path);
  if (fd < 0) return false;
  char program[] = "/usr/sbin/arp";
  char flags[] = "-an";
  char *argv[] = {program, flags, nullptr};
  run(argv, fd);
  bool ok = lseek(fd, 0, SEEK_SET) == 0;
  char buffer[4096];
  ssize_t got;
  while (ok && (got = read(fd, buffer, sizeof buffer)) > 0) table->append(buffer, static_cast<size_t>(got));
  close(fd);
  unlink(path);
  return ok;
}

void upnp_mac_platform_send_echo(const char *address) {
  std::string target = address;
  char program[] = "/sbin/ping";
  char count_flag[] = "-c";
  char count[] = "1";
  char *argv[] = {program, count_flag, count, &target[0], nullptr};
  run(argv, -1);
}
