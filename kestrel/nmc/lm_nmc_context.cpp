// Context numbering of both sides: server contexts 1 to 0xFFFF (0 the
// default), renderer contexts from 0x10001 (0x10000 the default). A context
// found by number is handed out locked; deletion takes it out of its list
// at once and frees it when the last holder let go.
#include <map>
#include <mutex>
#include <new>

#include "base/upnp_critsec.h"
#include "base/upnp_log.h"
#include "nmc/lm_nmc_internal.h"

namespace {

const uint32_t k_last_dms = 0xFFFFu;
const uint32_t k_first_dmr = 0x10001u;

struct ContextRecord {
  nmc_context context;
  // The context's own lock: held by whoever found the context.
  CRITICAL_SECTION lock;
  // Finders that hold or wait for the lock (guarded by the side's list
  // lock); the record is freed when it drops to 0 after deletion.
  unsigned int users = 0;
  bool deleted = false;
};

struct Side {
  // Guards the map, the users counts and last; held only for short steps,
  // never while a context lock is waited for, so a caller that holds a
  // context may create, find or delete others.
  std::mutex lock;
  std::map<uint32_t, ContextRecord *> contexts;
  uint32_t last = 0;
  bool open = false;
};

Side g_dms;
Side g_dmr;

Side &side_of(uint32_t id) { return id <= k_last_dms ? g_dms : g_dmr; }

ContextRecord *new_record(uint32_t id) {
  ContextRecord *record = new (std::nothrow) ContextRecord;
  if (record == nullptr) return nullptr;
  record->context.id = id;
  InitializeCriticalSection(&record->lock);
  return record;
}

void free_record(ContextRecord *record) {
  DeleteCriticalSection(&record->lock);
  delete record;
}

// The next free number of a side after `last`, wrapping within
// [first, end]; 0 when every number is in use. A number still in use is
// never handed out twice.
uint32_t next_free(const Side &side, uint32_t first, uint32_t end) {
  uint32_t candidate = side.last;
  uint64_t range = static_cast<uint64_t>(end) - first + 1;
  for (uint64_t tried = 0; tried < range; ++tried) {
    candidate = candidate >= end || candidate < first ? first : candidate + 1;
    if (side.contexts.find(candidate) == side.contexts.end()) return candidate;
  }
  return 0;
}

lm_nmc_result_t create_context(Side &side, uint32_t first, uint32_t end, const char *what, uint32_t *out) {
  if (out == nullptr) return LM_NMC_INVALID_PARAMETER;
  *out = 0;
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  std::lock_guard<std::mutex> hold(side.lock);
  if (!side.open) return LM_NMC_GOING_DOWN;
  uint32_t id = next_free(side, first, end);
  if (id == 0) return LM_NMC_NO_FREE_CONTEXT;
  ContextRecord *record = new_record(id);
  if (record == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "create_context", "NMC: Out of memory creating %s context", what);
    return LM_NMC_OUT_OF_MEMORY;
  }
  try {
    side.contexts.emplace(id, record);
  } catch (...) {
    free_record(record);
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "create_context", "NMC: Out of memory creating %s context", what);
    return LM_NMC_OUT_OF_MEMORY;
  }
  side.last = id;
  *out = id;
  return LM_NMC_OK;
}

lm_nmc_result_t delete_context(uint32_t id) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  Side &side = side_of(id);
  ContextRecord *record = nullptr;
  {
    std::lock_guard<std::mutex> hold(side.lock);
    auto found = side.contexts.find(id);
    if (found == side.contexts.end()) return LM_NMC_NOT_FOUND;
    record = found->second;
    side.contexts.erase(found);
    record->deleted = true;
    if (record->users > 0) return LM_NMC_OK;  // the last holder frees it
  }
  free_record(record);
  return LM_NMC_OK;
}

void close_side(Side &side) {
  std::map<uint32_t, ContextRecord *> left;
  {
    std::lock_guard<std::mutex> hold(side.lock);
    side.open = false;
    left.swap(side.contexts);
    side.last = 0;
    for (auto &entry : left) entry.second->deleted = true;
  }
  for (auto &entry : left) {
    bool free_now;
    {
      std::lock_guard<std::mutex> hold(side.lock);
      free_now = entry.second->users == 0;
    }
    if (free_now) free_record(entry.second);
  }
}

}  // namespace

void nmc_contexts_init(void) {
  for (Side *side : {&g_dms, &g_dmr}) {
    std::lock_guard<std::mutex> hold(side->lock);
    side->open = true;
    side->last = 0;
  }
}

void nmc_contexts_exit(void) {
  close_side(g_dms);
  close_side(g_dmr);
}

nmc_context *nmc_context_find(uint32_t id) {
  Side &side = side_of(id);
  ContextRecord *record = nullptr;
  {
    std::lock_guard<std::mutex> hold(side.lock);
    if (!side.open) return nullptr;
    auto found = side.contexts.find(id);
    if (found != side.contexts.end()) {
      record = found->second;
    } else if ((id == LM_NMC_DEFAULT_DMS_CONTEXT || id == LM_NMC_DEFAULT_DMR_CONTEXT) && !lm_nmc_is_terminating()) {
      record = new_record(id);
      if (record == nullptr) return nullptr;
      try {
        side.contexts.emplace(id, record);
      } catch (...) {
        free_record(record);
        return nullptr;
      }
    } else {
      return nullptr;
    }
    ++record->users;
  }
  EnterCriticalSection(&record->lock);
  bool gone;
  {
    std::lock_guard<std::mutex> hold(side.lock);
    gone = record->deleted;
  }
  if (gone) {
    nmc_context_release(&record->context);
    return nullptr;
  }
  return &record->context;
}

void nmc_context_release(nmc_context *context) {
  if (context == nullptr) return;
  // The context is the record's first member.
  ContextRecord *record = reinterpret_cast<ContextRecord *>(context);
  Side &side = side_of(context->id);
  LeaveCriticalSection(&record->lock);
  bool free_now;
  {
    std::lock_guard<std::mutex> hold(side.lock);
    free_now = --record->users == 0 && record->deleted;
  }
  if (free_now) free_record(record);
}

extern "C" KESTREL_API int lm_nmc_is_dms_context(uint32_t context) { return context < 0x10000u ? 1 : 0; }
extern "C" KESTREL_API int lm_nmc_is_dmr_context(uint32_t context) { return context > 0xFFFFu ? 1 : 0; }

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_create_context(uint32_t *context_out) {
  return create_context(g_dms, 1, k_last_dms, "server", context_out);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_create_context(uint32_t *context_out) {
  return create_context(g_dmr, k_first_dmr, 0xFFFFFFFFu, "renderer", context_out);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_delete_context(uint32_t context) {
  if (!lm_nmc_is_dms_context(context)) return LM_NMC_NOT_FOUND;
  return delete_context(context);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_delete_context(uint32_t context) {
  if (!lm_nmc_is_dmr_context(context)) return LM_NMC_NOT_FOUND;
  return delete_context(context);
}

namespace {

// Sets one callback of a context of the given side (the three register calls).
template <typename Callback>
lm_nmc_result_t register_callback(uint32_t context, bool renderer_side, Callback nmc_context::*field,
                                  Callback callback) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!(renderer_side ? lm_nmc_is_dmr_context(context) : lm_nmc_is_dms_context(context)))
    return LM_NMC_INVALID_INDEX;
  nmc_context *found = nmc_context_find(context);
  if (found == nullptr) return LM_NMC_INVALID_INDEX;
  found->*field = callback;
  nmc_context_release(found);
  return LM_NMC_OK;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_register_callback(uint32_t context, lm_dmscp_callback callback) {
  return register_callback(context, false, &nmc_context::server_callback, callback);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_register_callback(uint32_t context, lm_dmrcp_callback callback) {
  return register_callback(context, true, &nmc_context::renderer_callback, callback);
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_register_callback(uint32_t context, lm_queue_callback callback) {
  return register_callback(context, true, &nmc_context::queue_callback, callback);
}

std::vector<nmc_context_view> nmc_contexts_snapshot(bool renderers) {
  std::vector<uint32_t> ids;
  Side &side = renderers ? g_dmr : g_dms;
  {
    std::lock_guard<std::mutex> hold(side.lock);
    for (auto &entry : side.contexts) ids.push_back(entry.first);
  }
  std::vector<nmc_context_view> views;
  for (uint32_t id : ids) {
    nmc_context *context = nmc_context_find(id);
    if (context == nullptr) continue;
    views.push_back(nmc_context_view{context->id, context->server_callback, context->renderer_callback,
                                     context->queue_callback, context->renderer_index});
    nmc_context_release(context);
  }
  return views;
}
