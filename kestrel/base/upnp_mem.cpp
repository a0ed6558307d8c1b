// Accounted memory: every block carries its requested size in a header in
// front of the caller's bytes; the in-use and maximum counters change only
// under g_Mem_Section.
#include "base/upnp_mem.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CRITICAL_SECTION g_Mem_Section;

namespace {

// The header is 16 bytes (the size sits in its last 8) so that the caller's
// bytes keep the platform allocator's 16-byte alignment.
constexpr size_t kHeader = 16;

std::atomic<bool> g_lock_ready{false};
pthread_mutex_t g_lock_creation = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int64_t> g_used{0};
std::atomic<int64_t> g_max_used{0};

void create_lock(bool complain) {
  pthread_mutex_lock(&g_lock_creation);
  if (!g_lock_ready.load(std::memory_order_relaxed)) {
    if (complain) std::fputs("upnp_malloc: MemCriticalSection not initialized when upnp_malloc called\n", stderr);
    InitializeCriticalSection(&g_Mem_Section);
    g_lock_ready.store(true, std::memory_order_release);
  }
  pthread_mutex_unlock(&g_lock_creation);
}

void lock(bool complain) {
  if (!g_lock_ready.load(std::memory_order_acquire)) create_lock(complain);
  EnterCriticalSection(&g_Mem_Section);
}

void unlock() { LeaveCriticalSection(&g_Mem_Section); }

// Under the lock.
void count(int64_t delta) {
  int64_t used = g_used.load(std::memory_order_relaxed) + delta;
  g_used.store(used, std::memory_order_relaxed);
  if (used > g_max_used.load(std::memory_order_relaxed)) g_max_used.store(used, std::memory_order_relaxed);
}

unsigned char *base_of(void *block) { return static_cast<unsigned char *>(block) - kHeader; }

size_t size_of(void *block) {
  uint64_t size;
  std::memcpy(&size, static_cast<unsigned char *>(block) - sizeof size, sizeof size);
  return static_cast<size_t>(size);
}

void *finish(unsigned char *base, size_t size) {
  uint64_t stored = size;
  std::memcpy(base + kHeader - sizeof stored, &stored, sizeof stored);
  return base + kHeader;
}

}  // namespace

extern "C" void *upnp_malloc_impl(size_t size) {
  if (size > UPNP_MEM_MAX_SIZE) return nullptr;
  auto *base = static_cast<unsigned char *>(std::malloc(size + kHeader));
  if (base == nullptr) return nullptr;
  lock(true);
  count(static_cast<int64_t>(size));
  unlock();
  return finish(base, size);
}

extern "C" void *upnp_realloc_impl(void *block, size_t size) {
  if (block == nullptr) return upnp_malloc_impl(size);
  if (size > UPNP_MEM_MAX_SIZE) return nullptr;
  size_t old_size = size_of(block);
  // On failure the old block stays with the caller, so it stays counted.
  auto *base = static_cast<unsigned char *>(std::realloc(base_of(block), size + kHeader));
  if (base == nullptr) return nullptr;
  lock(false);
  int64_t after = g_used.load(std::memory_order_relaxed) - static_cast<int64_t>(old_size);
  if (after < 0) std::fprintf(stderr, "upnp_realloc: g_memUsed < 0 (%lld)\n", static_cast<long long>(after));
  count(static_cast<int64_t>(size) - static_cast<int64_t>(old_size));
  unlock();
  return finish(base, size);
}

extern "C" void *upnp_calloc_impl(size_t count_of, size_t size) {
  if (size != 0 && count_of > UPNP_MEM_MAX_SIZE / size) return nullptr;
  void *block = upnp_malloc_impl(count_of * size);
  if (block != nullptr) std::memset(block, 0, count_of * size);
  return block;
}

extern "C" char *upnp_strdup_impl(const char *text) {
  if (text == nullptr) return nullptr;
  size_t length = std::strlen(text);
  auto *copy = static_cast<char *>(upnp_malloc_impl(length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

extern "C" int upnp_strdup_replace(char **field, const char *text) {
  char *copy = nullptr;
  if (text != nullptr) {
    copy = upnp_strdup_impl(text);
    if (copy == nullptr) return 0;
  }
  upnp_free_impl(*field);
  *field = copy;
  return 1;
}

extern "C" void upnp_free_impl(void *block) {
  if (block == nullptr) return;
  size_t size = size_of(block);
  lock(false);
  count(-static_cast<int64_t>(size));
  unlock();
  std::free(base_of(block));
}

extern "C" void upnp_safe_free(void **block) {
  if (block == nullptr) return;
  upnp_free_impl(*block);
  *block = nullptr;
}

extern "C" void upnp_mem_init(void) { create_lock(false); }

extern "C" void upnp_mem_exit(void) {
  pthread_mutex_lock(&g_lock_creation);
  if (g_lock_ready.load(std::memory_order_relaxed)) {
    g_lock_ready.store(false, std::memory_order_release);
    DeleteCriticalSection(&g_Mem_Section);
  }
  pthread_mutex_unlock(&g_lock_creation);
}

extern "C" int64_t upnp_mem_used(void) { return g_used.load(std::memory_order_relaxed); }

extern "C" int64_t upnp_max_mem_used(void) { return g_max_used.load(std::memory_order_relaxed); }
