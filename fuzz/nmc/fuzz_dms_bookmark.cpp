// Input: an operation byte and a text, as a caller or a web client may hand
// them to a server context: 0 a bookmark for lm_dmscp_go_bookmark, 1 a query
// for lm_dmscp_search, 2 a sort text, 3 a metadata key. The context stands
// on a crafted ContentDirectory server on 127.0.0.1 (the controller runs
// without the network stack). A failed bookmark or search must leave the
// context where it was; nothing may crash or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc_dms_server.h"

namespace {

char g_dir[] = "/tmp/fuzz_dms_bookmark_XXXXXX";
nmc_test::CdsServer *g_server = nullptr;
uint32_t g_context = 0;
const char k_udn[] = "uuid:fuzz-dms-000001";
std::string g_home;  // the bookmark every input starts from

void remove_dir(void) {
  std::error_code error;
  std::filesystem::remove_all(g_dir, error);
}

std::string temp_bookmark() {
  char buffer[8192];
  return lm_dmscp_get_temp_bookmark(g_context, sizeof buffer, buffer) == 0 ? buffer : "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char *dir = g_dir;
  if (mkdtemp(dir) == nullptr) std::abort();
  std::atexit(remove_dir);
  nmc_set_network(0);
  lm_nmc_set_appdata_path(dir);
  std::string log = std::string(dir) + "/fuzz-log.txt";
  const char *argv[] = {"", "--logfile", log.c_str()};
  if (lm_nmc_init(3, argv, 0) == 0) std::abort();
  g_server = new nmc_test::CdsServer(k_udn, "Fuzz &amp; Server", "<manufacturer>Microsoft</manufacturer>");
  g_server->add({"1", "0", "Music, & <More>", true, "", "", false, false, false, false});
  g_server->add({"2", "1", "Inner\\", true, "", "", false, false, false, false});
  g_server->add_items("1", 5, "Song");
  g_server->add_items("2", 3, "Deep");
  upnp_control_add_device(g_server->description_url().c_str(), k_udn, "127.0.0.1:9000", 1800, 1);
  for (int i = 0; i < 200 && !nmc_devices_find_udn(NMC_SIDE_SERVER, k_udn, nullptr); ++i) Sleep(50);
  if (lm_dmscp_create_context(&g_context) != 0) std::abort();
  if (lm_dmscp_go_bookmark(g_context, (std::string(k_udn) + ",0").c_str()) != 0) std::abort();
  if (lm_dmscp_go_directory(g_context) != 0 || lm_dmscp_go_directory(g_context) != 0) std::abort();
  g_home = temp_bookmark();
  if (g_home.empty()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  if (text.find('\0') != std::string::npos) return 0;
  if (lm_dmscp_go_bookmark(g_context, g_home.c_str()) != 0) std::abort();
  const std::string before = temp_bookmark();
  lm_nmc_result_t rc = 0;
  switch (data[0] % 4) {
    case 0:
      rc = lm_dmscp_go_bookmark(g_context, text.c_str());
      break;
    case 1:
      rc = lm_dmscp_search(g_context, text.c_str());
      break;
    case 2: {
      rc = lm_dmscp_set_sort_option(g_context, text.c_str());
      uint32_t count = 0;
      lm_dmscp_get_count(g_context, &count);
      break;
    }
    default: {
      char out[256];
      int32_t number = 0;
      lm_dmscp_extract_metadata(g_context, text.c_str(), 0, sizeof out, out);
      lm_dmscp_extract_metadata_int(g_context, text.c_str(), 1, &number);
      break;
    }
  }
  if (rc != 0 && temp_bookmark() != before) std::abort();
  uint32_t depth = 0;
  if (lm_dmscp_get_level(g_context, &depth) != 0) std::abort();
  return 0;
}
