// The controller's exported functions that the terminal mode uses beside the
// component's slots (the component offers no browsing of network servers and
// no seek): looked up by name in the loaded library, as --web looks up the
// web API's entry. Result codes are put into words here.
#ifndef KESTREL_HOST_NMC_API_H
#define KESTREL_HOST_NMC_API_H

#include <cstdint>
#include <string>

#include "host_load.h"

namespace host {

struct NmcApi {
  using Result = uint32_t;
  Result (*dms_create)(uint32_t *) = nullptr;
  Result (*dms_delete)(uint32_t) = nullptr;
  Result (*dms_go_home)(uint32_t) = nullptr;
  Result (*dms_go_index)(uint32_t, uint32_t) = nullptr;
  Result (*dms_get_count)(uint32_t, uint32_t *) = nullptr;
  Result (*dms_is_directory)(uint32_t, uint32_t *) = nullptr;
  Result (*dms_go_directory)(uint32_t) = nullptr;
  Result (*dms_go_parent)(uint32_t) = nullptr;
  Result (*dms_get_level)(uint32_t, uint32_t *) = nullptr;
  Result (*dms_get_levelname)(uint32_t, uint32_t, char *) = nullptr;
  Result (*dms_go_bookmark)(uint32_t, const char *) = nullptr;
  Result (*dms_extract)(uint32_t, const char *, uint32_t, uint32_t, char *) = nullptr;
  Result (*dmr_create)(uint32_t *) = nullptr;
  Result (*dmr_delete)(uint32_t) = nullptr;
  Result (*dmr_go_bookmark)(uint32_t, const char *) = nullptr;
  Result (*dmr_get_state)(uint32_t, uint32_t *, uint32_t, char *, uint32_t, char *) = nullptr;
  Result (*dmr_seek_time)(uint32_t, int64_t) = nullptr;
  Result (*dmr_seek_percent)(uint32_t, uint32_t) = nullptr;
  // Optional (null when the library lacks it): the renderer ioctls, for the
  // formats a renderer takes.
  Result (*dmr_ioctl)(uint32_t, const char *, uint32_t, char *) = nullptr;

  // Looks every function up; false (with the first missing name in why)
  // when the library lacks one.
  bool resolve(const Library &lib, std::string &why);
};

// What a controller result code means, with the code: "not found: ... (code 9)".
std::string nmc_result_words(uint32_t code);

}  // namespace host

#endif
