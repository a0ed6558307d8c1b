// Input: an XML request as a caller or a web client may send it. It goes
// through lm_nmc_api_query on a controller started without the network
// stack; every answer must be a text whose first "Result" carries a code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/upnp_mem.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_internal.h"

namespace {
char g_dir[] = "/tmp/fuzz_api_query_XXXXXX";
// Registered before the controller's own exit stop, so it runs after it.
void remove_dir(void) {
  std::error_code error;
  std::filesystem::remove_all(g_dir, error);
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
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string request(reinterpret_cast<const char *>(data), size);
  char *response = lm_nmc_api_query(request.c_str(), 1);
  if (response == nullptr) std::abort();  // the controller runs: there is always an answer
  if (std::strstr(response, "<Result code=\"") == nullptr) std::abort();
  upnp_free_impl(response);
  return 0;
}
