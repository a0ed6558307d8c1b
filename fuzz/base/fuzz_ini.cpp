// Feeds arbitrary bytes to the ini file reader of the configuration store (as
// UTF-8, or UTF-16 when they start with its byte order mark), then lists,
// splits and formats the resulting store as writing the file would.
#include "base/upnp_ini_file.h"
#include "base/upnp_ini_file_internal.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool set_up() {
  upnp_mem_init();
  // The reader logs every pair at the info level; keep it off the console.
  upnp_log_init("/dev/null");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = set_up();
  (void)ready;
  upnp_ini_file_init();
  upnp_ini_file_client_init();
  upnp_ini_file_create_property(200, "list", "a, b", "a list", 1, 0, 0, 0);
  upnp_ini_file_read_buffer(reinterpret_cast<const char *>(data), size);
  for (int i = 0; i < 4; ++i) upnp_free_impl(upnp_ini_file_get_next_CSV(200, i));
  upnp_free_impl(upnp_ini_file_get_all_properties());
  std::string text = upnp_ini_file_format(16);
  if (text.compare(0, 2, "#!") != 0) std::abort();
  // Whatever was read must not fail the store's own round trip.
  upnp_ini_file_read_buffer(text.data(), text.size());
  upnp_ini_file_release();
  upnp_log_set_level(0);
  upnp_log_set_sources(0);
  return 0;
}
