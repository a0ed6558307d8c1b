// One search across every listed server: a worker thread per server runs
// the query on a server context of its own and merges its rows as they
// come; the caller waits until each server answered or its bound passed.
// The threads exist because a server that never answers holds its SOAP
// call for the whole SOAP time-out; the caller must not wait that long.
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/upnp_log.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc_across.h"
#include "nmc/lm_nmc_cancel.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_search_merge.h"

namespace {

const uint32_t k_default_bound_ms = 5000;
const uint32_t k_max_bound_ms = 60000;
const size_t k_batch = 50;

// What the caller and the workers of one search share. The callback lock
// keeps callbacks one at a time and none after lm_nmc_search_all returned.
struct shared_search {
  uint32_t id = 0;
  std::string query;
  nmc_search_merge merge;
  std::mutex callback_lock;
  bool closed = false;
  lm_nmc_search_all_callback callback = nullptr;
  void *user = nullptr;
};

struct worker_job {
  std::shared_ptr<shared_search> search;
  size_t server = 0;
  std::string bookmark;
};

// The held searches by number; the lock guards the map and the counter.
std::mutex g_held_lock;
std::map<uint32_t, std::shared_ptr<shared_search>> g_held;
uint32_t g_next_id = 1;

std::shared_ptr<shared_search> held(uint32_t id) {
  std::lock_guard<std::mutex> hold(g_held_lock);
  auto it = g_held.find(id);
  return it != g_held.end() ? it->second : nullptr;
}

void tell(shared_search &search, size_t index) {
  std::lock_guard<std::mutex> hold(search.callback_lock);
  if (search.closed || search.callback == nullptr) return;
  nmc_search_server server = search.merge.server(index);
  search.callback(search.id, server.udn.c_str(), server.name.c_str(), server.status, server.rows,
                  search.merge.count(), search.user);
}

std::string words_of(const char *what, lm_nmc_result_t code) {
  const char *text = upnp_get_errmsg(static_cast<int>(code));
  return std::string(what) + ": " + std::to_string(code) + " " + (text != nullptr ? text : "unknown error");
}

std::string text_key(uint32_t context, const char *key) {
  char buffer[2048];
  return lm_dmscp_extract_metadata(context, key, 0, sizeof buffer, buffer) == LM_NMC_OK ? std::string(buffer)
                                                                                         : std::string();
}

// Runs the query on one server and merges its rows a batch at a time.
void search_server(worker_job &job, uint32_t context) {
  shared_search &search = *job.search;
  lm_nmc_result_t result = lm_dmscp_go_bookmark(context, job.bookmark.c_str());
  if (result != LM_NMC_OK) {
    search.merge.finish(job.server, LM_NMC_SEARCH_ALL_FAILED, words_of("server gone", result));
    return;
  }
  result = lm_dmscp_search(context, search.query.c_str());
  if (result == 13) {  // the server's description names no Search action
    search.merge.finish(job.server, LM_NMC_SEARCH_ALL_SKIPPED, "offers no Search");
    return;
  }
  uint32_t total = 0;
  if (result == LM_NMC_OK) result = lm_dmscp_get_count(context, &total);
  if (result == LM_NMC_NOT_FOUND) total = 0;  // nothing matched: an empty level
  else if (result != LM_NMC_OK) {
    search.merge.finish(job.server, LM_NMC_SEARCH_ALL_FAILED, words_of("Search refused", result));
    return;
  }
  total = std::min(total, LM_NMC_SEARCH_ALL_MAX_PER_SERVER);
  std::vector<nmc_search_row> batch;
  for (uint32_t i = 0; i < total && !lm_nmc_is_terminating(); ++i) {
    char bookmark[2048];
    if (lm_dmscp_go_index(context, i) != LM_NMC_OK ||
        lm_dmscp_get_bookmark(context, sizeof bookmark, bookmark) != LM_NMC_OK) {
      break;  // the server shrank the result meanwhile: what came counts
    }
    nmc_search_row row;
    row.title = text_key(context, "Title");
    row.upnp_class = text_key(context, "upnp:class");
    row.bookmark = bookmark;
    batch.push_back(std::move(row));
    if (batch.size() == k_batch) {
      search.merge.add_rows(job.server, std::move(batch));
      batch.clear();
      tell(search, job.server);
    }
  }
  search.merge.add_rows(job.server, std::move(batch));
  search.merge.finish(job.server, LM_NMC_SEARCH_ALL_ANSWERED, "");
}

void worker(void *argument) {
  std::unique_ptr<worker_job> job(static_cast<worker_job *>(argument));
  uint32_t context = 0;
  lm_nmc_result_t result = lm_dmscp_create_context(&context);
  if (result != LM_NMC_OK) {
    job->search->merge.finish(job->server, LM_NMC_SEARCH_ALL_FAILED, words_of("no server context", result));
  } else {
    search_server(*job, context);
    lm_dmscp_delete_context(context);
  }
  tell(*job->search, job->server);
}

// Waits until every server is final, the deadline passed or the cancel
// flag is set (looked at every 100 ms); true when cancelled.
bool wait_servers(shared_search &search, std::chrono::steady_clock::time_point deadline, uint32_t cancel) {
  if (cancel == 0) {
    search.merge.wait_final(deadline);
    return false;
  }
  for (;;) {
    if (nmc_cancel_is_set(cancel)) return true;
    auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    if (search.merge.wait_final(std::min(slice, deadline)) || slice >= deadline) return nmc_cancel_is_set(cancel);
  }
}

lm_nmc_result_t search_all(const char *query, uint32_t per_server_ms, uint32_t cancel,
                           lm_nmc_search_all_callback callback, void *user, uint32_t *search_out) {
  if (search_out != nullptr) *search_out = 0;
  if (query == nullptr || query[0] == '\0' || search_out == nullptr) return LM_NMC_INVALID_PARAMETER;
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  const uint32_t bound = per_server_ms == 0 ? k_default_bound_ms : std::min(per_server_ms, k_max_bound_ms);
  std::vector<nmc_device_view> servers = nmc_devices_list(NMC_SIDE_SERVER);
  servers.erase(std::remove_if(servers.begin(), servers.end(), [](const nmc_device_view &v) { return v.removed; }),
                servers.end());
  if (servers.empty()) return LM_NMC_NOT_FOUND;

  auto search = std::make_shared<shared_search>();
  search->query = query;
  search->callback = callback;
  search->user = user;
  {
    std::lock_guard<std::mutex> hold(g_held_lock);
    if (g_held.size() >= LM_NMC_SEARCH_ALL_MAX_HELD) return LM_NMC_NO_FREE_CONTEXT;
    search->id = g_next_id++;
    if (g_next_id == 0) g_next_id = 1;
    g_held[search->id] = search;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound);
  std::vector<nmc_thread *> threads;
  for (const nmc_device_view &view : servers) {
    size_t index = search->merge.add_server(view.udn, view.name);
    auto *job = new worker_job{search, index, nmc_bookmark_escape(view.udn) + ",0"};
    nmc_thread *thread = nmc_thread_start(worker, job, "NMC SearchAll");
    if (thread == nullptr) {
      delete job;
      search->merge.finish(index, LM_NMC_SEARCH_ALL_FAILED, "no thread for this server");
      tell(*search, index);
    } else {
      threads.push_back(thread);
    }
  }
  const bool cancelled = wait_servers(*search, deadline, cancel);
  for (size_t index : search->merge.expire(bound, cancelled ? "cancelled before it answered" : nullptr)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "lm_nmc_search_all", "NMC: server %s: %s %u ms",
                  search->merge.server(index).name.c_str(),
                  cancelled ? "search cancelled before an answer, after at most" : "no search answer within", bound);
    tell(*search, index);
  }
  {
    std::lock_guard<std::mutex> hold(search->callback_lock);
    search->closed = true;
  }
  // A worker still waiting for its server is left to end on its own; its
  // rows are no longer taken.
  for (nmc_thread *thread : threads) nmc_thread_join_bounded(thread, nmc_thread_ended(thread) ? 1000 : 0);
  *search_out = search->id;
  return LM_NMC_OK;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_search_all(const char *query, uint32_t per_server_ms,
                                                         lm_nmc_search_all_callback callback, void *user,
                                                         uint32_t *search_out) {
  return search_all(query, per_server_ms, 0, callback, user, search_out);
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_search_all_cancellable(const char *query, uint32_t per_server_ms,
                                                                     uint32_t cancel,
                                                                     lm_nmc_search_all_callback callback, void *user,
                                                                     uint32_t *search_out) {
  return search_all(query, per_server_ms, cancel, callback, user, search_out);
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_search_all_get_count(uint32_t id, uint32_t *count) {
  if (count != nullptr) *count = 0;
  if (count == nullptr) return LM_NMC_INVALID_PARAMETER;
  std::shared_ptr<shared_search> search = held(id);
  if (search == nullptr) return LM_NMC_INVALID_INDEX;
  *count = search->merge.count();
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_search_all_get_page(uint32_t id, uint32_t start, uint32_t count,
                                                                  uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  std::shared_ptr<shared_search> search = held(id);
  if (search == nullptr) return LM_NMC_INVALID_INDEX;
  std::string text;
  lm_nmc_result_t result = search->merge.page(start, count, &text);
  if (result != LM_NMC_OK) return result;
  return nmc_out_text(text.c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_search_all_get_servers(uint32_t id, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  std::shared_ptr<shared_search> search = held(id);
  if (search == nullptr) return LM_NMC_INVALID_INDEX;
  return nmc_out_text(search->merge.servers_text().c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_search_all_release(uint32_t id) {
  std::lock_guard<std::mutex> hold(g_held_lock);
  return g_held.erase(id) != 0 ? LM_NMC_OK : LM_NMC_INVALID_INDEX;
}
