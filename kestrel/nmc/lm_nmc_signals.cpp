// Signal handlers that lm_nmc_init installs on request: SIGINT and SIGTERM
// (never SIGABRT) turn into the stop request. The handler only writes one
// byte into a pipe, which is async-signal-safe; the watcher thread reading
// the pipe makes the request.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "base/upnp_fd.h"
#include "base/upnp_log.h"
#include "nmc/lm_nmc_internal.h"

namespace {

// Guards the installation (install and remove may come from the start-up
// and the terminator).
std::mutex g_mutex;
bool g_installed = false;
// The pipe is made once and kept for the life of the process: a handler that
// runs late on another thread must never write into a closed (or reused)
// descriptor.
int g_read_fd = -1;
// Read by the handler: lock-free, so reading it there is safe.
std::atomic<int> g_write_fd{-1};
// Set while handlers are installed; a late signal after removal is ignored.
std::atomic<bool> g_active{false};
struct sigaction g_old_int;
struct sigaction g_old_term;
nmc_thread *g_watcher = nullptr;

const char k_stop = 's';
const char k_quit = 'q';

void on_signal(int) {
  int saved = errno;
  int fd = g_write_fd.load();
  if (fd >= 0 && g_active.load()) {
    ssize_t written = write(fd, &k_stop, 1);
    (void)written;
  }
  errno = saved;
}

void watcher(void *) {
  for (;;) {
    char byte = 0;
    ssize_t got = read(g_read_fd, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1 || byte == k_quit) return;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "signal_watcher", "NMC: Stop requested by signal");
    nmc_request_stop();
  }
}

}  // namespace

bool nmc_signals_install(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (g_installed) return true;
  if (g_read_fd < 0) {
    int fds[2];
    if (upnp_pipe(fds) != 0) return false;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    g_read_fd = fds[0];
    g_write_fd.store(fds[1]);
  }
  g_watcher = nmc_thread_start(watcher, nullptr, "NMC Signals");
  if (g_watcher == nullptr) return false;
  g_active.store(true);
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &g_old_int);
  sigaction(SIGTERM, &action, &g_old_term);
  g_installed = true;
  return true;
}

void nmc_signals_remove(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (!g_installed) return;
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
  g_active.store(false);
  ssize_t written = write(g_write_fd.load(), &k_quit, 1);
  (void)written;
  nmc_thread_join_bounded(g_watcher, NMC_THREAD_JOIN_BOUND_MS);
  g_watcher = nullptr;
  g_installed = false;
}
