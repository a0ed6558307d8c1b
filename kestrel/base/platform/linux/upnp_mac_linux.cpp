// Linux: the kernel's neighbour table (/proc/net/arp) and one echo request
// through ping, run without a shell.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "base/upnp_fd.h"
#include "base/upnp_mac_platform.h"

bool upnp_mac_platform_read_table(std::string *table) {
  table->clear();
  FILE *file = upnp_fopen("/proc/net/arp", "r");
  if (file == nullptr) return false;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) table->append(buffer, got);
  std::fclose(file);
  return true;
}

void upnp_mac_platform_send_echo(const char *address) {
  // Everything the child needs is prepared before the fork: after it only
  // async-signal-safe calls are made.
  char count_flag[] = "-c";
  char count[] = "1";
  char wait_flag[] = "-W";
  char wait[] = "1";
  std::string target = address;
  char program[] = "ping";
  char *argv[] = {program, count_flag, count, wait_flag, wait, &target[0], nullptr};
  const char *const paths[] = {"/usr/bin/ping", "/bin/ping", "/usr/sbin/ping", "/sbin/ping"};
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      // ping gets /dev/null as its standard descriptors only.
      if (null > 2) close(null);
    }
    for (const char *path : paths) execv(path, argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}
