// Start and stop of the network side of the stack for all interfaces, and
// the restart after an interface change.
#include <atomic>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/socket.h>

#include "base/upnp_critsec.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_server_state.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "http/http_server.h"
#include "ssdp/upnp_ssdp_internal.h"

namespace {

// 1 running, -1 stopping, 0 stopped.
std::atomic<int> g_stack_state{0};
// Start, stop and the interface check run one at a time.
std::mutex g_start_stop_mutex;

CRITICAL_SECTION g_global_section;
std::atomic<bool> g_global_exists{false};

CRITICAL_SECTION g_ssdp_section;
std::once_flag g_ssdp_once;

// Each interface runs the library's HTTP server unless tests put other
// hooks in place.
std::atomic<upnp_http_server_open_fn> g_http_open{HTTP_server_open};
std::atomic<upnp_http_server_close_fn> g_http_close{HTTP_server_close};
std::atomic<upnp_http_server_port_fn> g_http_port{HTTP_server_port};

std::atomic<bool> g_nic_change_flagged{false};
std::atomic<unsigned long long> g_last_nic_check{0};
std::atomic<upnp_network_change_callback> g_network_change{nullptr};

constexpr unsigned int kStopSettleMs = 200;
constexpr unsigned int kRestartPauseMs = 1000;
constexpr unsigned long long kNicCheckSeconds = 30;

void init_ssdp_lock() {
  std::call_once(g_ssdp_once, [] { InitializeCriticalSection(&g_ssdp_section); });
}

std::string subnet_of(const std::string &address) {
  size_t dot = address.rfind('.');
  return dot == std::string::npos ? address : address.substr(0, dot);
}

// The addresses a start takes: at most one per /24 network, logging the
// skipped ones when `log` is set.
std::vector<std::string> one_per_subnet(const std::vector<std::string> &addresses, bool log) {
  std::vector<std::string> taken;
  for (const std::string &address : addresses) {
    bool same = false;
    for (const std::string &other : taken) same = same || subnet_of(other) == subnet_of(address);
    if (same) {
      if (log) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "upnp_server_start",
                      "IP skipping, because same subnet as already used IP: %s", address.c_str());
      }
      continue;
    }
    taken.push_back(address);
  }
  return taken;
}

void join_unless_self(upnp_thread_t thread) {
  if (thread == UPNP_NO_THREAD) return;
  if (pthread_equal(thread, pthread_self())) {
    pthread_detach(thread);
    return;
  }
  upnp_join_thread(thread, nullptr);
}

void shutdown_socket(const std::atomic<int> &socket) {
  int s = socket.load();
  if (s >= 0) shutdown(s, SHUT_RDWR);
}

void close_socket(std::atomic<int> &socket) {
  int s = socket.exchange(-1);
  if (s >= 0) upnp_socket_close(s);
}

void start_locked(int state) {
  if (!g_global_exists.load()) {
    InitializeCriticalSection(&g_global_section);
    g_global_exists.store(true);
  }
  init_ssdp_lock();
  upnp_server_set_state(UPNP_SERVER_RUNNING);
  (void)state;

  std::vector<std::string> addresses = one_per_subnet(ssdp_collect_addresses(), true);
  int port = upnp_ini_file_getInt(INI_HTTPPORT);
  upnp_http_server_open_fn open = g_http_open.load();
  int count = 0;
  for (const std::string &address : addresses) {
    if (count >= UPNP_MAX_INTERFACES) break;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "upnp_server_start", "IP init: %s", address.c_str());
    upnp_interface_entry &entry = g_Interfaces[count];
    upnp_interfaces_lock();
    std::memset(entry.address, 0, sizeof entry.address);
    std::strncpy(entry.address, address.c_str(), sizeof entry.address - 1);
    entry.http_port = port > 0 ? static_cast<unsigned int>(port) : 0u;
    entry.http_socket = -1;
    entry.listen_socket.store(-1);
    entry.search_socket.store(-1);
    entry.sender_running.store(0);
    entry.receiver_running.store(0);
    entry.search_now.store(0);
    entry.revalidation.store(0);
    entry.index = count;
    upnp_interfaces_unlock();
    if (open != nullptr) {
      int s = open(entry.address, entry.http_port);
      if (s < 0) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SSDP, "upnp_server_start", "Ignoring failing IP %s", entry.address);
      }
      entry.http_socket = s;
      // The server may have found a free port above the configured one.
      upnp_http_server_port_fn bound = g_http_port.load();
      if (s >= 0 && bound != nullptr) {
        unsigned int actual = bound(s);
        if (actual != 0) {
          upnp_interfaces_lock();
          entry.http_port = actual;
          upnp_interfaces_unlock();
        }
      }
    }
    ++count;
  }
  g_nInterfaceCount.store(count);
  // Running from here on: the entries are complete before any thread or
  // search can look at them.
  ssdp_lock();
  g_stack_state.store(1);
  ssdp_unlock();

  const bool skip_local = count > 1 && upnp_ini_file_getBoolean(INI_DISABLELOCALSSDP);
  for (int i = 0; i < count; ++i) {
    if (skip_local && std::strcmp(g_Interfaces[i].address, "127.0.0.1") == 0) continue;
    ssdp_listen_start(&g_Interfaces[i]);
  }
  M_Search(0);
}

void stop_locked(int state) {
  ssdp_lock();
  if (g_stack_state.load() != 1) {
    ssdp_unlock();
    return;
  }
  g_stack_state.store(-1);
  ssdp_unlock();
  if (state != UPNP_SERVER_RESTARTING && g_global_exists.exchange(false)) DeleteCriticalSection(&g_global_section);
  Sleep(kStopSettleMs);

  upnp_http_server_close_fn close = g_http_close.load();
  for (upnp_interface_entry &entry : g_Interfaces) {
    if (entry.address[0] == '\0') continue;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "upnp_server_stop", "Server stopping at %s", entry.address);
    if (entry.http_socket >= 0 && close != nullptr) close(entry.http_socket);
    entry.http_socket = -1;
    std::lock_guard<std::mutex> hold(entry.socket_lock);
    entry.generation.fetch_add(1);
    shutdown_socket(entry.search_socket);
    shutdown_socket(entry.listen_socket);
  }
  // The threads end at their next receive or wait; wait for them before the
  // sockets are closed, so no descriptor is closed while in use.
  for (upnp_interface_entry &entry : g_Interfaces) {
    ssdp_lock();
    upnp_thread_t threads[3] = {entry.listen_thread, entry.receiver_thread, entry.sender_thread};
    entry.listen_thread = entry.receiver_thread = entry.sender_thread = UPNP_NO_THREAD;
    ssdp_unlock();
    for (upnp_thread_t thread : threads) join_unless_self(thread);
    close_socket(entry.search_socket);
    close_socket(entry.listen_socket);
    upnp_interfaces_lock();
    std::memset(entry.address, 0, sizeof entry.address);
    entry.http_port = 0;
    upnp_interfaces_unlock();
    entry.sender_running.store(0);
    entry.receiver_running.store(0);
  }
  g_nInterfaceCount.store(0);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "upnp_server_stop", "Server terminated");
  g_stack_state.store(0);
  upnp_server_set_state(state == UPNP_SERVER_RESTARTING ? UPNP_SERVER_RESTARTING : UPNP_SERVER_STOPPED);
}

}  // namespace

void ssdp_lock(void) {
  init_ssdp_lock();
  EnterCriticalSection(&g_ssdp_section);
}

void ssdp_unlock(void) { LeaveCriticalSection(&g_ssdp_section); }

bool ssdp_entry_current(const upnp_interface_entry *entry, unsigned int generation) {
  return g_stack_state.load() == 1 && entry->generation.load() == generation;
}

extern "C" int upnp_server_stack_state(void) { return g_stack_state.load(); }

extern "C" void upnp_server_start(int state) {
  std::lock_guard<std::mutex> hold(g_start_stop_mutex);
  if (g_stack_state.load() == 1) return;
  start_locked(state);
}

extern "C" void upnp_server_stop(int state) {
  std::lock_guard<std::mutex> hold(g_start_stop_mutex);
  stop_locked(state);
}

extern "C" struct CRITICAL_SECTION *upnp_server_global_lock(void) {
  return g_global_exists.load() ? &g_global_section : nullptr;
}

extern "C" void upnp_server_set_http_hooks(upnp_http_server_open_fn open, upnp_http_server_close_fn close,
                                           upnp_http_server_port_fn port) {
  g_http_open.store(open);
  g_http_close.store(close);
  g_http_port.store(port);
}

extern "C" void upnp_ssdp_flag_NIC_change(void) { g_nic_change_flagged.store(true); }

extern "C" void upnp_ssdp_set_network_change_callback(upnp_network_change_callback callback) {
  g_network_change.store(callback);
}

extern "C" void check_NIC_change(unsigned long long now_seconds) {
  bool flagged = g_nic_change_flagged.exchange(false);
  unsigned long long last = g_last_nic_check.load();
  bool due = upnp_ini_file_getBoolean(INI_NICRESTART) && now_seconds >= last + kNicCheckSeconds;
  if (!flagged && !due) return;
  g_last_nic_check.store(now_seconds);

  std::lock_guard<std::mutex> hold(g_start_stop_mutex);
  if (g_stack_state.load() != 1) return;
  // The new list goes through the same one-per-network rule as a start, so
  // a skipped address does not count as a change.
  std::vector<std::string> now = one_per_subnet(ssdp_collect_addresses(), false);
  upnp_interface_info current[UPNP_MAX_INTERFACES];
  int count = upnp_interfaces_snapshot(current, UPNP_MAX_INTERFACES);
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "check_NIC_change", "IP count: %d / %d", count,
                static_cast<int>(now.size()));
  bool changed = count != static_cast<int>(now.size());
  for (int i = 0; i < count && !changed; ++i) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SSDP, "check_NIC_change", "IP verify: %s", current[i].address);
    bool present = false;
    for (const std::string &address : now) present = present || address == current[i].address;
    changed = !present;
  }
  if (!changed) return;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SSDP, "check_NIC_change", "Server restarting due to NIC changes");
  stop_locked(UPNP_SERVER_RESTARTING);
  Sleep(kRestartPauseMs);
  start_locked(UPNP_SERVER_RESTARTING);
  upnp_network_change_callback callback = g_network_change.load();
  if (callback != nullptr) callback();
}
