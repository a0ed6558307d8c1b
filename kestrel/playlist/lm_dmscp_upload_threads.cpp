// The running uploads: a slot per upload (at most LM_DMSCP_UPLOAD_MAX_ACTIVE),
// the transfer threads, and the controller's stop, which ends them and joins
// them with its bound (the transfer pool of lm_nmc_transfer_pool.cpp).
//
// A thread's socket is closed through upload_close_socket under the pool's
// mutex, so the stop never shuts down a descriptor that has been closed and
// handed out again.
#include <sys/socket.h>

#include <mutex>

#include "base/upnp_log.h"
#include "base/upnp_socket.h"
#include "playlist/lm_dmscp_upload_internal.h"
#include "playlist/lm_nmc_transfer_pool.h"

namespace {

void run(void *info) { uploadToServer(static_cast<upload_info *>(info)); }
void finish(void *info) { upload_info_free(static_cast<upload_info *>(info)); }

// A blocked send or read returns at once on a shut-down socket.
void wake(void *argument) {
  auto *info = static_cast<upload_info *>(argument);
  if (info->socket >= 0) shutdown(info->socket, SHUT_RDWR);
}

// Never destroyed: a thread left behind by the stop's bound may still end
// while the process exits.
nmc_transfer_pool &pool() {
  static nmc_transfer_pool *p =
      new nmc_transfer_pool("NMC DMS Upload Handler", LM_DMSCP_UPLOAD_MAX_ACTIVE, finish, wake);
  return *p;
}

}  // namespace

bool upload_reserve_slot(void) {
  if (pool().reserve() == nmc_transfer_pool::RESERVED) return true;
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "lm_dmscp_upload", "lm_dmscp_upload: No upload slot free (%u at most)",
                LM_DMSCP_UPLOAD_MAX_ACTIVE);
  return false;
}

void upload_release_slot(void) { pool().release(); }

bool upload_start(upload_info *info) { return pool().start(run, info); }

bool upload_stopping(void) { return pool().stopping(); }

void upload_close_socket(int *socket) {
  std::lock_guard<std::mutex> hold(pool().lock());
  if (*socket >= 0) upnp_socket_close(*socket);
  *socket = -1;
}

void nmc_uploads_stop(void) { pool().stop("upload thread(s)"); }

void nmc_uploads_allow(void) { pool().allow(); }

unsigned nmc_uploads_running(void) { return pool().running(); }
