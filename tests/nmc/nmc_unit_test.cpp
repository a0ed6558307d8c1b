// The output-string rule, run-state names and the context predicates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"

namespace {

struct OutCase {
  const char *text;
  uint32_t size;
  bool buffer;
  lm_nmc_result_t code;
  const char *expect;  // buffer content afterwards
};

TEST(NmcOutput, TextFollowsTheRule) {
  const OutCase cases[] = {
      {"abc", 4, true, LM_NMC_OK, "abc"},
      {"abc", 3, true, LM_NMC_BUFFER_TOO_SMALL, ""},  // no room for the NUL
      {"abc", 1, true, LM_NMC_BUFFER_TOO_SMALL, ""},
      {"", 1, true, LM_NMC_OK, ""},
      {"abc", 0, true, LM_NMC_INVALID_PARAMETER, "#"},  // size 0: buffer untouched
      {"abc", 8, false, LM_NMC_INVALID_PARAMETER, nullptr},
      {nullptr, 8, true, LM_NMC_NOT_FOUND, ""},
  };
  for (const OutCase &c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    buffer[15] = '\0';
    buffer[1] = '\0';
    lm_nmc_result_t code = nmc_out_text(c.text, c.size, c.buffer ? buffer : nullptr);
    EXPECT_EQ(code, c.code) << (c.text ? c.text : "<null>") << " size " << c.size;
    if (c.expect != nullptr) {
      EXPECT_STREQ(buffer, c.expect) << (c.text ? c.text : "<null>") << " size " << c.size;
    }
    // Nothing is ever written past the size given.
    if (c.size < sizeof buffer - 1 && c.buffer) {
      EXPECT_EQ(buffer[c.size < 2 ? 2 : c.size], '#');
    }
  }
}

TEST(NmcOutput, NumbersFollowTheSameRule) {
  const struct {
    int64_t value;
    uint32_t size;
    lm_nmc_result_t code;
    const char *expect;
  } cases[] = {
      {42, 3, LM_NMC_OK, "42"},
      {42, 2, LM_NMC_BUFFER_TOO_SMALL, ""},
      {-7, 3, LM_NMC_OK, "-7"},
      {4294967296LL, 11, LM_NMC_OK, "4294967296"},
  };
  for (const auto &c : cases) {
    char buffer[16] = "junk";
    EXPECT_EQ(nmc_out_number(c.value, c.size, buffer), c.code) << c.value;
    EXPECT_STREQ(buffer, c.expect) << c.value;
  }
}

TEST(NmcRunState, Names) {
  const char *const names[] = {"Stopped", "Initializing", "Initialized", "Starting",
                               "Running", "Terminating", "Stopped",     "Stopped"};
  for (uint32_t state = 0; state < 8; ++state) EXPECT_STREQ(nmc_run_state_name(state), names[state]) << state;
  EXPECT_STREQ(nmc_run_state_name(0xFFFFFFFFu), "Stopped");
}

TEST(NmcContext, SideOfANumber) {
  const struct {
    uint32_t id;
    int dms;
    int dmr;
  } cases[] = {{0, 1, 0}, {1, 1, 0}, {0xFFFF, 1, 0}, {0x10000, 0, 1}, {0x10001, 0, 1}, {0xFFFFFFFFu, 0, 1}};
  for (const auto &c : cases) {
    EXPECT_EQ(lm_nmc_is_dms_context(c.id), c.dms) << std::hex << c.id;
    EXPECT_EQ(lm_nmc_is_dmr_context(c.id), c.dmr) << std::hex << c.id;
  }
}

}  // namespace
