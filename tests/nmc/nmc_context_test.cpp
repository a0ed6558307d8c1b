// Context numbering of both sides, the default contexts, wrap-around, and
// contexts found (locked) by one thread while another deletes them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_test_util.h"

namespace {

using nmc_test::NmcTest;

void server_cb(uint32_t, uint32_t, const char *) {}
void renderer_cb(uint32_t, uint32_t, const char *) {}

TEST_F(NmcTest, ContextNumbersAndErrors) {
  ASSERT_EQ(start(), 1);
  uint32_t id = 0;
  const struct {
    lm_nmc_result_t (*create)(uint32_t *);
    uint32_t first;
  } sides[] = {{lm_dmscp_create_context, 1}, {lm_dmrcp_create_context, 0x10001}};
  for (const auto &side : sides) {
    for (uint32_t n = 0; n < 3; ++n) {
      ASSERT_EQ(side.create(&id), LM_NMC_OK);
      EXPECT_EQ(id, side.first + n);
    }
    EXPECT_EQ(side.create(nullptr), LM_NMC_INVALID_PARAMETER);
  }
  const struct {
    const char *what;
    lm_nmc_result_t code;
    lm_nmc_result_t expect;
  } cases[] = {
      {"delete server 2", lm_dmscp_delete_context(2), LM_NMC_OK},
      {"delete server 2 again", lm_dmscp_delete_context(2), LM_NMC_NOT_FOUND},
      {"delete unknown server", lm_dmscp_delete_context(999), LM_NMC_NOT_FOUND},
      {"delete renderer through server side", lm_dmscp_delete_context(0x10001), LM_NMC_NOT_FOUND},
      {"delete server through renderer side", lm_dmrcp_delete_context(1), LM_NMC_NOT_FOUND},
      {"delete renderer", lm_dmrcp_delete_context(0x10002), LM_NMC_OK},
      {"callback on server", lm_dmscp_register_callback(1, server_cb), LM_NMC_OK},
      {"callback on deleted server", lm_dmscp_register_callback(2, server_cb), LM_NMC_INVALID_INDEX},
      {"callback on renderer via server side", lm_dmscp_register_callback(0x10001, server_cb), LM_NMC_INVALID_INDEX},
      {"callback on renderer", lm_dmrcp_register_callback(0x10001, renderer_cb), LM_NMC_OK},
      {"callback on unknown renderer", lm_dmrcp_register_callback(0x20000, renderer_cb), LM_NMC_INVALID_INDEX},
      {"clear callback", lm_dmrcp_register_callback(0x10001, nullptr), LM_NMC_OK},
      // Default contexts come into being on their first use.
      {"default server context", lm_dmscp_register_callback(0, server_cb), LM_NMC_OK},
      {"default renderer context", lm_dmrcp_register_callback(0x10000, renderer_cb), LM_NMC_OK},
  };
  for (const auto &c : cases) EXPECT_EQ(c.code, c.expect) << c.what;
  // The next number follows the last handed out; a freed one is not reused
  // before the range is used up; the defaults are never handed out.
  ASSERT_EQ(lm_dmscp_create_context(&id), LM_NMC_OK);
  EXPECT_EQ(id, 4u);
  ASSERT_EQ(lm_dmrcp_create_context(&id), LM_NMC_OK);
  EXPECT_EQ(id, 0x10004u);
  nmc_context *found = nmc_context_find(0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->server_callback, &server_cb);
  nmc_context_release(found);
}

// After the last server number the lowest free one is handed out; with all
// in use, create answers 22; a number in use is never handed out twice.
TEST_F(NmcTest, ServerNumbersWrapAround) {
  ASSERT_EQ(start(), 1);
  uint32_t id = 0;
  for (uint32_t n = 1; n <= 0xFFFF; ++n) {
    ASSERT_EQ(lm_dmscp_create_context(&id), LM_NMC_OK);
    ASSERT_EQ(id, n);
  }
  EXPECT_EQ(lm_dmscp_create_context(&id), LM_NMC_NO_FREE_CONTEXT);
  EXPECT_EQ(id, 0u);
  ASSERT_EQ(lm_dmscp_delete_context(9), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_delete_context(5), LM_NMC_OK);
  ASSERT_EQ(lm_dmscp_delete_context(7), LM_NMC_OK);
  const uint32_t expect[] = {5, 7, 9};
  for (uint32_t want : expect) {
    ASSERT_EQ(lm_dmscp_create_context(&id), LM_NMC_OK);
    EXPECT_EQ(id, want);
  }
  EXPECT_EQ(lm_dmscp_create_context(&id), LM_NMC_NO_FREE_CONTEXT);
}

// A context found by one thread stays usable while another deletes it; the
// deletion returns at once, the record goes when the holder lets go, and a
// holder may create and delete other contexts meanwhile.
TEST_F(NmcTest, DeleteWhileFoundByAnotherThread) {
  ASSERT_EQ(start(), 1);
  uint32_t id = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&id), LM_NMC_OK);
  nmc_context *held = nmc_context_find(id);
  ASSERT_NE(held, nullptr);
  std::atomic<lm_nmc_result_t> deleted{99};
  std::thread deleter([&] { deleted = lm_dmrcp_delete_context(id); });
  deleter.join();
  EXPECT_EQ(deleted.load(), LM_NMC_OK);
  EXPECT_EQ(nmc_context_find(id), nullptr);
  uint32_t other = 0;
  ASSERT_EQ(lm_dmrcp_create_context(&other), LM_NMC_OK);
  EXPECT_NE(other, id);
  EXPECT_EQ(lm_dmrcp_delete_context(other), LM_NMC_OK);
  held->renderer_callback = renderer_cb;  // still the holder's to use
  nmc_context_release(held);

  // A second finder waits for the first holder, then learns it is gone.
  ASSERT_EQ(lm_dmrcp_create_context(&id), LM_NMC_OK);
  held = nmc_context_find(id);
  ASSERT_NE(held, nullptr);
  std::atomic<bool> waiter_done{false};
  std::atomic<bool> waiter_found{true};
  std::thread waiter([&] {
    nmc_context *again = nmc_context_find(id);
    waiter_found = again != nullptr;
    nmc_context_release(again);
    waiter_done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(waiter_done.load()) << "the finder waits for the holder";
  EXPECT_EQ(lm_dmrcp_delete_context(id), LM_NMC_OK);
  nmc_context_release(held);
  waiter.join();
  EXPECT_FALSE(waiter_found.load());
}

// Contexts left open are freed with their lists at the stop (ASan build).
TEST_F(NmcTest, OpenContextsFreedAtStop) {
  ASSERT_EQ(start(), 1);
  uint32_t id = 0;
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(lm_dmscp_create_context(&id), LM_NMC_OK);
    ASSERT_EQ(lm_dmrcp_create_context(&id), LM_NMC_OK);
  }
  ASSERT_EQ(lm_dmrcp_register_callback(0x10000, renderer_cb), LM_NMC_OK);
  ASSERT_TRUE(stop_and_wait());
  EXPECT_EQ(nmc_context_find(0x10000), nullptr);
  ASSERT_EQ(start(), 1);
  nmc_context *fresh = nmc_context_find(0x10000);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->renderer_callback, nullptr);
  nmc_context_release(fresh);
}

}  // namespace
