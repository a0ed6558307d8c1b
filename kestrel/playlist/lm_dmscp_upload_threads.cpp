// The running uploads: a slot per upload (at most LM_DMSCP_UPLOAD_MAX_ACTIVE),
// the transfer threads, and the controller's stop, which ends them and joins
// them with its bound.
//
// The registry's mutex guards the slot count, the thread list and the
// stopping mark. A thread's socket is closed through upload_close_socket
// under the same mutex, so the stop never shuts down a descriptor that has
// been closed and handed out again.
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "nmc/lm_nmc_internal.h"
#include "playlist/lm_dmscp_upload_internal.h"

namespace {

struct upload_entry {
  nmc_thread *thread = nullptr;
  upload_info *info = nullptr;
  std::atomic<bool> done{false};
};

std::mutex g_mutex;
unsigned g_slots = 0;  // reserved or running
bool g_stopping = false;
std::vector<upload_entry *> g_entries;
std::atomic<bool> g_stop_request{false};

void routine(void *argument) {
  auto *entry = static_cast<upload_entry *>(argument);
  upload_info *info = entry->info;
  uploadToServer(info);
  {
    // The stop reads the record's socket under the mutex: it is taken off
    // the entry before it is freed.
    std::lock_guard<std::mutex> hold(g_mutex);
    entry->info = nullptr;
    entry->done.store(true);
    if (g_slots > 0) --g_slots;
  }
  upload_info_free(info);
}

// Joins the threads that have ended (their join is immediate).
void reap_locked(std::vector<upload_entry *> *ended) {
  for (auto it = g_entries.begin(); it != g_entries.end();) {
    if ((*it)->done.load() && nmc_thread_ended((*it)->thread)) {
      ended->push_back(*it);
      it = g_entries.erase(it);
    } else {
      ++it;
    }
  }
}

void join_all(std::vector<upload_entry *> &entries) {
  for (upload_entry *entry : entries) {
    // A thread that outlives the bound is left behind with its entry.
    if (nmc_thread_join_bounded(entry->thread, NMC_THREAD_JOIN_BOUND_MS)) delete entry;
  }
}

}  // namespace

bool upload_reserve_slot(void) {
  std::vector<upload_entry *> ended;
  bool reserved = false;
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    reap_locked(&ended);
    if (!g_stopping && g_slots < LM_DMSCP_UPLOAD_MAX_ACTIVE) {
      ++g_slots;
      reserved = true;
    }
  }
  join_all(ended);
  if (!reserved)
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "lm_dmscp_upload", "lm_dmscp_upload: No upload slot free (%u at most)",
                  LM_DMSCP_UPLOAD_MAX_ACTIVE);
  return reserved;
}

void upload_release_slot(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (g_slots > 0) --g_slots;
}

bool upload_start(upload_info *info) {
  auto *entry = new (std::nothrow) upload_entry;
  if (entry == nullptr) {
    upload_release_slot();
    return false;
  }
  entry->info = info;
  std::lock_guard<std::mutex> hold(g_mutex);
  if (!g_stopping) entry->thread = nmc_thread_start(routine, entry, "NMC DMS Upload Handler");
  if (entry->thread == nullptr) {
    if (g_slots > 0) --g_slots;
    delete entry;
    return false;
  }
  // Listed under the mutex that the thread's end takes: the stop sees it.
  g_entries.push_back(entry);
  return true;
}

bool upload_stopping(void) { return g_stop_request.load(); }

void upload_close_socket(int *socket) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (*socket >= 0) upnp_socket_close(*socket);
  *socket = -1;
}

void nmc_uploads_stop(void) {
  std::vector<upload_entry *> entries;
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_stopping = true;
    g_stop_request.store(true);
    // A blocked send or read returns at once on a shut-down socket.
    for (upload_entry *entry : g_entries)
      if (entry->info != nullptr && entry->info->socket >= 0) shutdown(entry->info->socket, SHUT_RDWR);
    entries.swap(g_entries);
  }
  if (!entries.empty())
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_uploads_stop", "NMC: Ending %zu upload thread(s)", entries.size());
  join_all(entries);
  nmc_uploads_allow();
}

void nmc_uploads_allow(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_stopping = false;
  g_stop_request.store(false);
}

unsigned nmc_uploads_running(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  unsigned n = 0;
  for (upload_entry *entry : g_entries)
    if (!entry->done.load()) ++n;
  return n;
}
