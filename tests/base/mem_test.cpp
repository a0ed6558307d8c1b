// Accounted memory: exact counters, limits, and the memory lock's life cycle.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "base/upnp_mem.h"

TEST(Memory, AllocateAndFreeMoveTheCounterExactly) {
  upnp_mem_init();
  int64_t before = upnp_mem_used();
  void *block = upnp_malloc_impl(100);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(before + 100, upnp_mem_used());
  EXPECT_GE(upnp_max_mem_used(), before + 100);
  int64_t max_after_alloc = upnp_max_mem_used();
  upnp_free_impl(block);
  EXPECT_EQ(before, upnp_mem_used());
  EXPECT_EQ(max_after_alloc, upnp_max_mem_used()) << "the maximum stays";
}

TEST(Memory, MaximumFollowsThePeak) {
  int64_t before = upnp_mem_used();
  void *a = upnp_malloc_impl(1 << 20);
  ASSERT_NE(nullptr, a);
  EXPECT_GE(upnp_max_mem_used(), before + (1 << 20));
  upnp_free_impl(a);
}

TEST(Memory, BlocksAreAlignedAndUsable) {
  std::vector<void *> blocks;
  for (size_t size : {0, 1, 7, 8, 15, 16, 17, 100, 4096}) {
    void *b = upnp_malloc_impl(size);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(b) % 16) << size;
    std::memset(b, 0xAB, size);
    blocks.push_back(b);
  }
  for (void *b : blocks) upnp_free_impl(b);
}

TEST(Memory, ReallocCountsOldAndNewSize) {
  int64_t before = upnp_mem_used();
  auto *p = static_cast<char *>(upnp_realloc_impl(nullptr, 10));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(before + 10, upnp_mem_used());
  std::memcpy(p, "0123456789", 10);
  p = static_cast<char *>(upnp_realloc_impl(p, 1000));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(before + 1000, upnp_mem_used());
  EXPECT_EQ(0, std::memcmp(p, "0123456789", 10));
  p = static_cast<char *>(upnp_realloc_impl(p, 4));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(before + 4, upnp_mem_used());
  EXPECT_EQ(0, std::memcmp(p, "0123", 4));
  upnp_free_impl(p);
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(Memory, FailedReallocLeavesBlockAndCounters) {
  int64_t before = upnp_mem_used();
  auto *p = static_cast<char *>(upnp_malloc_impl(32));
  ASSERT_NE(nullptr, p);
  std::strcpy(p, "still here");
  EXPECT_EQ(nullptr, upnp_realloc_impl(p, UPNP_MEM_MAX_SIZE + 1));
  EXPECT_EQ(before + 32, upnp_mem_used());
  EXPECT_STREQ("still here", p);
  upnp_free_impl(p);
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(Memory, OversizedRequestsGiveNone) {
  int64_t before = upnp_mem_used();
  EXPECT_EQ(nullptr, upnp_malloc_impl(UPNP_MEM_MAX_SIZE + 1));
  EXPECT_EQ(nullptr, upnp_malloc_impl(SIZE_MAX));
  // count * size overflows
  EXPECT_EQ(nullptr, upnp_calloc_impl(SIZE_MAX / 2, 4));
  EXPECT_EQ(nullptr, upnp_calloc_impl(SIZE_MAX, SIZE_MAX));
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(Memory, CallocZeroFillsAndCounts) {
  int64_t before = upnp_mem_used();
  auto *p = static_cast<unsigned char *>(upnp_calloc_impl(25, 4));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(before + 100, upnp_mem_used());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0, p[i]) << i;
  upnp_free_impl(p);
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(Memory, StrdupAndSafeFree) {
  int64_t before = upnp_mem_used();
  EXPECT_EQ(nullptr, upnp_strdup_impl(nullptr));
  char *copy = upnp_strdup_impl("kestrel");
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("kestrel", copy);
  EXPECT_EQ(before + 8, upnp_mem_used());
  void *ref = copy;
  upnp_safe_free(&ref);
  EXPECT_EQ(nullptr, ref);
  upnp_safe_free(&ref);  // a cleared reference is fine
  upnp_free_impl(nullptr);
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(Memory, ConcurrentUseKeepsExactCount) {
  int64_t before = upnp_mem_used();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      std::vector<void *> held;
      for (int i = 0; i < 5000; ++i) {
        held.push_back(upnp_malloc_impl(static_cast<size_t>((i * 7 + t) % 300)));
        if (i % 3 == 0) held.back() = upnp_realloc_impl(held.back(), static_cast<size_t>(i % 500));
        if (held.size() > 20) {
          upnp_free_impl(held.front());
          held.erase(held.begin());
        }
      }
      for (void *p : held) upnp_free_impl(p);
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(before, upnp_mem_used());
}

TEST(Memory, LockIsCreatedOnTheSpotWhenMissing) {
  upnp_mem_exit();
  upnp_mem_exit();  // a second exit does nothing
  testing::internal::CaptureStderr();
  void *p = upnp_malloc_impl(10);
  std::string complaint = testing::internal::GetCapturedStderr();
  ASSERT_NE(nullptr, p);
  EXPECT_EQ("upnp_malloc: MemCriticalSection not initialized when upnp_malloc called\n", complaint);
  testing::internal::CaptureStderr();
  void *q = upnp_malloc_impl(10);
  EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "only once";
  upnp_free_impl(p);
  upnp_free_impl(q);
  upnp_mem_init();
}
