// Thread start with a priority level (retry and fallback rules), sleeping,
// the millisecond clock and the logging timestamp.
#include "base/upnp_thread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>
#include <sys/time.h>

#include "base/upnp_base_log.h"
#include "base/upnp_log.h"
#include "base/upnp_thread_platform.h"

namespace {

std::atomic<upnp_thread_create_fn> g_create{nullptr};

int create_thread(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *), void *argument) {
  upnp_thread_create_fn create = g_create.load(std::memory_order_acquire);
  return create ? create(thread, attributes, routine, argument)
                : pthread_create(thread, attributes, routine, argument);
}

// What the new thread needs to get going. Plain heap memory: the thread frees
// it itself, which must not show up in the accounted counters.
struct StartBlock {
  upnp_thread_routine routine;
  void *argument;
  int priority;
};

void *trampoline(void *raw) {
  StartBlock block = *static_cast<StartBlock *>(raw);
  delete static_cast<StartBlock *>(raw);
  upnp_thread_platform_on_start(block.priority);
  return block.routine(block.argument);
}

upnp_thread_t start(upnp_thread_routine routine, void *argument, int level) {
  if (routine == nullptr) return UPNP_NO_THREAD;
  auto *block = new (std::nothrow) StartBlock{routine, argument, upnp_thread_priority_for_level(level)};
  if (block == nullptr) return UPNP_NO_THREAD;

  pthread_attr_t attributes;
  bool have_attributes = pthread_attr_init(&attributes) == 0;
  int rc = have_attributes ? upnp_thread_platform_prepare_attributes(&attributes, block->priority) : ENOMEM;
  pthread_t thread{};
  if (rc == 0) {
    rc = create_thread(&thread, &attributes, trampoline, block);
    if (rc == EAGAIN) {
      upnp_base_log(LOG_LEVEL_WARNING, "upnp_start_thread", "Not enough resources to start thread - retrying");
      Sleep(20);
      rc = create_thread(&thread, &attributes, trampoline, block);
      if (rc == EAGAIN) {
        upnp_base_log(LOG_LEVEL_ERROR, "upnp_start_thread", "Second try to start thread failed - giving up");
        pthread_attr_destroy(&attributes);
        delete block;
        return UPNP_NO_THREAD;
      }
    }
  }
  if (have_attributes) pthread_attr_destroy(&attributes);
  if (rc != 0) {
    upnp_base_log(LOG_LEVEL_WARNING, "upnp_start_thread",
                  "Failed to start thread with requested priority and scheduler - trying default");
    rc = create_thread(&thread, nullptr, trampoline, block);
    if (rc != 0) {
      upnp_base_log(LOG_LEVEL_ERROR, "upnp_start_thread", "Failed to start thread with defaults - giving up");
      delete block;
      return UPNP_NO_THREAD;
    }
  }
  return thread;
}

using Clock = std::chrono::steady_clock;
constexpr int64_t kNoBase = INT64_MIN;
std::atomic<int64_t> g_time_base{kNoBase};

}  // namespace

extern "C" void upnp_thread_set_create_function(upnp_thread_create_fn create) {
  g_create.store(create, std::memory_order_release);
}

extern "C" int upnp_thread_priority_for_level(int level) {
  switch (level) {
    case 3: return 10;
    case 4: return 30;
    case 6: return 70;
    case 7: return 90;
    default: return 50;
  }
}

extern "C" upnp_thread_t upnp_start_joinable_thread(upnp_thread_routine routine, void *argument, int level) {
  return start(routine, argument, level);
}

extern "C" int upnp_start_detached_thread(upnp_thread_routine routine, void *argument, int level) {
  upnp_thread_t thread = start(routine, argument, level);
  if (thread == UPNP_NO_THREAD) return 0;
  pthread_detach(thread);
  return 1;
}

extern "C" int upnp_start_thread(upnp_thread_routine routine, void *argument, int level) {
  return upnp_start_detached_thread(routine, argument, level);
}

extern "C" int upnp_join_thread(upnp_thread_t thread, void **result) {
  if (thread == UPNP_NO_THREAD) return EINVAL;
  return pthread_join(thread, result);
}

extern "C" int upnp_kill_joinable_thread(upnp_thread_t thread) {
  if (thread == UPNP_NO_THREAD) return EINVAL;
  return pthread_cancel(thread);
}

extern "C" void upnp_init_thread(const char *name) {
  if (name != nullptr) upnp_thread_platform_set_name(name);
}

extern "C" void upnp_end_thread(void) { pthread_exit(nullptr); }

extern "C" void Sleep(unsigned int milliseconds) {
  struct timespec left = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

extern "C" uint64_t getSystemTime(void) {
  int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  int64_t base = g_time_base.load(std::memory_order_acquire);
  if (base == kNoBase) {
    int64_t expected = kNoBase;
    base = g_time_base.compare_exchange_strong(expected, now, std::memory_order_acq_rel) ? now : expected;
  }
  return now > base ? static_cast<uint64_t>(now - base) : 0;
}

extern "C" char *upnp_get_logging_timestamp(char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t seconds = tv.tv_sec;
  struct tm local;
  localtime_r(&seconds, &local);
  char clock[16];
  if (std::strftime(clock, sizeof clock, "%H:%M:%S", &local) == 0) clock[0] = '\0';
  std::snprintf(buffer, size, "%s:%03ld ", clock, static_cast<long>(tv.tv_usec / 1000));
  return buffer;
}
