// The ioctl lookup rules, the common table and the renderer notification
// rows; start and stop through "StartNMC" and "StopNMC".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "http/http_settings.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc_test_util.h"
#include "support_wait.h"

namespace {

using nmc_test::NmcTest;

enum Entry { NMC, DMS, DMR };

struct IoctlCase {
  Entry entry;
  const char *command;
  uint32_t size;
  lm_nmc_result_t code;
  const char *out;  // expected output (none: not checked)
};

void run_cases(const std::vector<IoctlCase> &cases) {
  for (const IoctlCase &c : cases) {
    char out[256];
    std::memset(out, '#', sizeof out);
    out[sizeof out - 1] = '\0';
    lm_nmc_result_t code = c.entry == NMC   ? lm_nmc_ioctl(0, c.command, c.size, out)
                           : c.entry == DMS ? lm_dmscp_ioctl(0, c.command, c.size, out)
                                            : lm_dmrcp_ioctl(0x10000, c.command, c.size, out);
    std::string label = std::string(c.command != nullptr ? c.command : "<null>") + " / " + std::to_string(c.size);
    EXPECT_EQ(code, c.code) << label;
    if (c.out != nullptr) {
      EXPECT_STREQ(out, c.out) << label;
    }
    if (c.size > 0 && c.size < sizeof out - 1) {
      EXPECT_EQ(out[c.size], '#') << label << ": written past the size";
    }
  }
}

class NmcIoctlTest : public NmcTest {
 protected:
  void SetUp() override {
    NmcTest::SetUp();
    connection_ = HTTP_get_connection_timeout();
    soap_ = HTTP_get_soap_timeout();
  }
  void TearDown() override {
    HTTP_set_connection_timeout(connection_);
    HTTP_set_soap_timeout(soap_);
    nmc_set_update_mode(NMC_MODE_KEYWORD);
    nmc_set_list_mode(NMC_MODE_KEYWORD);
    NmcTest::TearDown();
  }
  unsigned int connection_ = 0;
  unsigned int soap_ = 0;
};

TEST_F(NmcIoctlTest, LookupAndCommonTable) {
  ASSERT_EQ(start(), 1);
  const std::string other_log = (dir_->path() / "other-log.txt").string();
  const std::string set_log = "SetLogFilename " + other_log;
  run_cases({
      // Lookup rules.
      {NMC, nullptr, 64, 2, ""},
      {NMC, "", 64, 2, ""},
      {NMC, "StartNMCx", 64, 9, ""},
      {NMC, "NoSuchCommand", 64, 9, ""},
      {NMC, "GetNMCRunState", 64, 0, "Running"},
      {NMC, "GetNMCRunState\tignored", 64, 0, "Running"},
      {NMC, "GetNMCRunState", 8, 0, "Running"},
      {NMC, "GetNMCRunState", 7, 10, ""},
      {NMC, "GetNMCRunState", 0, 2, nullptr},
      // Modes: a missing or unknown name changes nothing.
      {NMC, "SetNMCMode Standalone", 64, 0, nullptr},
      {NMC, "SetNMCMode", 64, 2, nullptr},
      {NMC, "SetNMCMode   ", 64, 2, nullptr},
      {NMC, "SetNMCMode Bogus", 64, 2, nullptr},
      {NMC, "GetNMCState", 64, 0, "Standalone"},
      {NMC, "SetNMCMode Mobile", 64, 0, nullptr},
      {NMC, "GetNMCState", 64, 0, "Mobile Direct"},
      {NMC, "SetNMCMode Mobile Remote", 64, 0, nullptr},
      {NMC, "GetNMCState", 64, 0, "Mobile Direct"},
      {NMC, "SetNMCMode Stationary", 64, 0, nullptr},
      {NMC, "GetNMCState", 64, 0, "Stationary"},
      {NMC, "SetNMCMode Standalone", 64, 0, nullptr},
      {NMC, "GetNMCStationaryExists", 64, 0, "0"},
      {NMC, "GetNMCStationaryURL", 64, 9, ""},
      // Time-outs.
      {NMC, "SetNMCRequestTimeout 42", 64, 0, nullptr},
      {NMC, "GetNMCRequestTimeout", 64, 0, "42"},
      {NMC, "GetNMCRequestTimeout", 15, 10, ""},
      {NMC, "SetNMCRequestTimeout abc", 64, 2, nullptr},
      {NMC, "GetNMCRequestTimeout", 64, 0, "42"},
      {NMC, "SetNMCCommunicationTimeout x5", 64, 2, nullptr},
      {NMC, "SetNMCCommunicationTimeout 17", 64, 0, nullptr},
      {NMC, "GetNMCCommunicationTimeout", 64, 0, "17"},
      // Stationary values and features.
      {NMC, "GetStationaryPlatform", 64, 9, ""},
      {NMC, "SetStationaryPlatform Mac OS", 64, 0, nullptr},
      {NMC, "GetStationaryPlatform", 64, 0, "Mac OS"},
      {NMC, "SetStationaryPollInterval 30", 64, 0, nullptr},
      {NMC, "SetStationaryPollInterval soon", 64, 2, nullptr},
      {NMC, "GetStationaryPollInterval", 64, 0, "30"},
      {NMC, "EnableFeature 1234", 64, 2, nullptr},
      {NMC, "EnableFeature 7612", 64, 0, nullptr},
      {NMC, "SetNMCUserAgent Test/1.0", 64, 0, nullptr},
      // Configuration properties.
      {NMC, "SetIniProperty httpport 9123", 64, 0, nullptr},
      {NMC, "GetIniProperty httpport", 64, 0, "9123"},
      {NMC, "SetIniProperty nosuchproperty 1", 64, 9, nullptr},
      {NMC, "GetIniProperty nosuchproperty", 64, 9, ""},
      {NMC, "SetIniProperty version 7.1.2", 64, 0, nullptr},
      {NMC, "GetNMCVersion", 64, 0, "7.1.2"},
      // Logging.
      {NMC, "SetLogFilename other.log", 64, 2, nullptr},
      {NMC, set_log.c_str(), 64, 0, nullptr},
      {NMC, "GetLogFilename", 256, 0, other_log.c_str()},
      {NMC, "SetLogLevel high", 64, 2, nullptr},
      {NMC, "SetLogLevel 3", 64, 0, nullptr},
      {NMC, "GetLogLevel", 64, 0, "3"},
      {NMC, "SetLogSource 255", 64, 0, nullptr},
      {NMC, "GetLogSource", 64, 0, "255"},
      // The renderer rows only through the renderer side, which also
      // reaches the common table; the server side reaches the common table.
      {NMC, "DMRGetUpdateNotification", 64, 9, ""},
      {DMS, "DMRGetUpdateNotification", 64, 9, ""},
      {DMS, "GetNMCRunState", 64, 0, "Running"},
      {DMR, "GetNMCRunState", 64, 0, "Running"},
      {DMR, "DMRGetUpdateNotification", 64, 0, "DMRKeywordNotification"},
      {DMR, "DMRSetUpdateNotification DMRXmlNotification", 64, 0, nullptr},
      {DMR, "DMRGetUpdateNotification", 64, 0, "DMRXmlNotification"},
      {DMR, "DMRSetUpdateNotification DMRBookmarkNotification", 64, 2, nullptr},
      {DMR, "DMRGetUpdateNotification", 64, 0, "DMRXmlNotification"},
      {DMR, "DMRGetNetworkNotification", 64, 0, "DMRBookmarkNotification"},
      {DMR, "DMRSetNetworkNotification DMRXmlNotification", 64, 0, nullptr},
      {DMR, "DMRGetNetworkNotification", 64, 0, "DMRXmlNotification"},
      {DMR, "DMRSetNetworkNotification", 64, 2, nullptr},
  });
  EXPECT_EQ(nmc_update_mode(), NMC_MODE_XML);
  EXPECT_EQ(nmc_list_mode(), NMC_MODE_XML);

  // The session list: the API session alone, one line.
  char clients[256] = "";
  ASSERT_EQ(lm_nmc_ioctl(0, "GetNMCClients", sizeof clients, clients), 0u);
  std::string listing = clients;
  EXPECT_EQ(listing.rfind("   1:\t---.---.---.---\t", 0), 0u) << listing;
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1) << listing;
  EXPECT_EQ(lm_nmc_ioctl(0, "GetNMCClients", 10, clients), 10u);
}

// "StopNMC" answers at once; afterwards only the rows usable while stopped
// work and everything else answers 11 until "StartNMC".
TEST_F(NmcIoctlTest, StopAndStartThroughIoctls) {
  ASSERT_EQ(start(), 1);
  run_cases({{NMC, "StopNMC", 0, 0, nullptr}});
  ASSERT_TRUE(nmc_wait_stopped(20000));
  run_cases({
      {NMC, "GetNMCRunState", 64, 0, "Stopped"},
      {NMC, "GetNMCVersion", 64, 11, ""},
      {NMC, "GetIniProperty httpport", 64, 11, ""},
      {NMC, "GetNMCRequestTimeout", 64, 11, ""},
      {NMC, "SetLogLevel 2", 64, 0, nullptr},
      {NMC, "SetNMCMode Standalone", 64, 0, nullptr},
      {NMC, "GetNMCState", 64, 0, "Standalone"},
      {NMC, "StartNMC -help", 64, 14, nullptr},
      {NMC, "GetNMCRunState", 64, 0, "Stopped"},
  });
  const std::string start_line = "StartNMC --logfile " + log_path_;
  run_cases({
      {NMC, start_line.c_str(), 64, 0, nullptr},
      {NMC, "GetNMCRunState", 64, 0, "Running"},
      {NMC, "GetNMCState", 64, 0, "Standalone"},
  });
}

}  // namespace
