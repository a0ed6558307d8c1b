// Input: a GENA message as a device or a spoofer may send it: header text, a
// zero byte, then the body. It goes through every reader the subscription
// exchanges and the NOTIFY handler apply: SID, SEQ, TIMEOUT from the header,
// the service identification and the transport state from the body, and the
// synthetic event built from the state found (which must read back the same).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "cp/upnp_cp_eventing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    upnp_mem_init();
    ready = true;
  }
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t split = input.find('\0');
  std::string header = input.substr(0, split);
  std::string body = split == std::string::npos ? std::string() : input.substr(split + 1);
  body = body.c_str();  // the handler sees a zero-terminated body

  char *sid = upnp_cp_get_SID(header.c_str());
  if (sid != nullptr) {
    for (const char *p = sid; *p; ++p)
      if (static_cast<unsigned char>(*p) <= ' ') std::abort();  // a SID never carries blanks or line ends
    if (std::strlen(sid) == 0) std::abort();
  }
  upnp_free_impl(sid);
  uint32_t sequence = 0;
  if (!upnp_cp_get_event_sequence(header.c_str(), &sequence) && sequence != 0) std::abort();
  int64_t timeout = upnp_cp_get_timeout(header.c_str(), 300);
  if (timeout < 0) std::abort();

  unsigned int service = upnp_cp_get_event_service(body.c_str());
  if (service & ~0xEu) std::abort();
  int state = upnp_cp_get_event_TransportState(body.c_str());
  if (state < -1 || state > 6) std::abort();
  if (state >= 0) {
    char *synthetic = upnp_cp_createSyntheticStateEvent(state, static_cast<int>(size & 1));
    if (synthetic == nullptr || upnp_cp_get_event_TransportState(synthetic) != state ||
        upnp_cp_get_event_service(synthetic) != 4u)
      std::abort();
    upnp_free_impl(synthetic);
  }
  return 0;
}
