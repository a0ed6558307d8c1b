// The renderer ioctl rows of this side: whether a renderer can play a URL,
// a server object or a type ("DMRCanPlay"), and the slideshow delay and
// transition wait time of a context or their global defaults.
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "nmc/lm_dmrcp_ioctl.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"

namespace {

// Global defaults, read when a context's renderer state is made and
// changed by the "global" form of the setters.
std::atomic<uint32_t> g_delay{3};
std::atomic<uint32_t> g_wait{20};

bool has_known_protocol(const char *text) {
  static const char *const k_protocols[] = {"http://", "https://", "rtsp://", "rtp://", "mms://", "file://"};
  for (const char *protocol : k_protocols) {
    if (strncasecmp(text, protocol, std::strlen(protocol)) == 0) return true;
  }
  return false;
}

// "...|N" with N above 0 at the end.
bool ends_in_level_count(const char *text) {
  const char *bar = std::strrchr(text, '|');
  if (bar == nullptr || bar[1] == '\0') return false;
  for (const char *p = bar + 1; *p != '\0'; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  }
  return std::strtoul(bar + 1, nullptr, 10) > 0;
}

// The bookmark's first two parts (split at unescaped commas, "\," read as
// a comma); false when it has no second part.
bool split_bookmark(const char *text, std::string *udn, std::string *object) {
  std::string parts[2];
  int part = 0;
  for (const char *p = text; *p != '\0'; ++p) {
    if (p[0] == '\\' && p[1] == ',') {
      parts[part] += ',';
      ++p;
    } else if (*p == ',') {
      if (++part == 2) break;
    } else {
      parts[part] += *p;
    }
  }
  if (part == 0 || parts[0].empty() || parts[1].empty()) return false;
  *udn = parts[0];
  *object = parts[1];
  return true;
}

lm_nmc_result_t can_play(uint32_t context, const char *argument, uint32_t, char *) {
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  nmc_dmr_reply reply;
  const char *element = nullptr;
  if (has_known_protocol(argument)) {
    element = "URLSupported";
    result = nmc_dmr_command("CanPlayURL", target.index, {{"SupportsURL", argument}}, &reply);
  } else if (strncasecmp(argument, "uuid:", 5) == 0 || ends_in_level_count(argument)) {
    std::string udn;
    std::string object;
    if (!split_bookmark(argument, &udn, &object)) return LM_NMC_INVALID_PARAMETER;
    nmc_device_view server;
    if (!nmc_devices_find_udn(NMC_SIDE_SERVER, udn.c_str(), &server) || server.removed) return NMC_DMR_DEVICE_GONE;
    element = "ObjectSupported";
    result = nmc_dmr_command("CanPlayObject", target.index,
                             {{"ServerIndex", std::to_string(server.index)}, {"ObjectID", object}}, &reply);
  } else {
    element = "StreamSupported";
    result = nmc_dmr_command("CanPlayStream", target.index, {{"SupportsType", argument}}, &reply);
  }
  if (result != LM_NMC_OK) return result;
  const char *answer = reply.value(element);
  return answer != nullptr && std::strcmp(answer, "true") == 0 ? LM_NMC_OK : NMC_DMR_CANNOT_PLAY;
}

// A number 0..65535 followed by nothing but blanks and "global"; false
// when no number starts the argument.
bool read_seconds(const char *argument, uint64_t *value) {
  if (!std::isdigit(static_cast<unsigned char>(argument[0]))) return false;
  char *end = nullptr;
  unsigned long long parsed = std::strtoull(argument, &end, 10);
  *value = parsed;
  return true;
}

bool is_global(const char *argument) { return argument != nullptr && std::strstr(argument, "global") != nullptr; }

// Sets the delay (or the wait time) of the context or, with "global", the
// global default and every context still at the old default.
lm_nmc_result_t set_time(uint32_t context, const char *argument, bool wait) {
  uint64_t value = 0;
  if (!read_seconds(argument, &value) || value > 65535) {
    if (wait) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "set_time",
                    "Slideshow TRANSITIONING wait time must be in range [0-%u] but is %u", 65535u,
                    static_cast<unsigned>(value));
    } else {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "set_time",
                    "DMRCP_IOCTL_CMD_SET_SLIDESHOW_DELAY: Slideshow delay must be in range [0-%u] but is %u", 65535u,
                    static_cast<unsigned>(value));
    }
    return LM_NMC_INVALID_PARAMETER;
  }
  const uint16_t seconds = static_cast<uint16_t>(value);
  std::atomic<uint32_t> &global = wait ? g_wait : g_delay;
  if (is_global(argument)) {
    const uint32_t old = global.exchange(seconds);
    for (const nmc_context_view &view : nmc_contexts_snapshot(true)) {
      nmc_context *found = nmc_context_find(view.id);
      if (found == nullptr) continue;
      nmc_dmr_context *dmr = nmc_dmr_state_of_context(found);
      if (dmr != nullptr) {
        uint16_t &field = wait ? dmr->slideshow_wait : dmr->slideshow_delay;
        if (field == old) field = seconds;
      }
      nmc_context_release(found);
    }
    return LM_NMC_OK;
  }
  if (!lm_nmc_is_dmr_context(context)) return LM_NMC_INVALID_INDEX;
  nmc_context *found = nmc_context_find(context);
  if (found == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(found);
  if (dmr != nullptr) (wait ? dmr->slideshow_wait : dmr->slideshow_delay) = seconds;
  nmc_context_release(found);
  return dmr != nullptr ? LM_NMC_OK : LM_NMC_OUT_OF_MEMORY;
}

lm_nmc_result_t get_time(uint32_t context, const char *argument, bool wait, uint32_t size, char *out) {
  if (is_global(argument)) return nmc_out_number(wait ? g_wait.load() : g_delay.load(), size, out);
  if (!lm_nmc_is_dmr_context(context)) return LM_NMC_INVALID_INDEX;
  nmc_context *found = nmc_context_find(context);
  if (found == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(found);
  uint32_t seconds = dmr == nullptr ? 0 : wait ? dmr->slideshow_wait : dmr->slideshow_delay;
  nmc_context_release(found);
  if (dmr == nullptr) return LM_NMC_OUT_OF_MEMORY;
  return nmc_out_number(seconds, size, out);
}

lm_nmc_result_t set_delay(uint32_t c, const char *a, uint32_t, char *) { return set_time(c, a, false); }
lm_nmc_result_t get_delay(uint32_t c, const char *a, uint32_t s, char *o) { return get_time(c, a, false, s, o); }
lm_nmc_result_t set_wait(uint32_t c, const char *a, uint32_t, char *) { return set_time(c, a, true); }
lm_nmc_result_t get_wait(uint32_t c, const char *a, uint32_t s, char *o) { return get_time(c, a, true, s, o); }

}  // namespace

lm_nmc_result_t nmc_dmrcp_ioctl_local(uint32_t context, const char *command, uint32_t size, char *out) {
  nmc_dmr_target target;
  if (nmc_dmr_find(context, &target) != LM_NMC_OK || !nmc_ldmr_is_local(target.index)) return LM_NMC_NOT_FOUND;
  return nmc_ldmr_ioctl(target.index, command, size, out);
}

uint16_t nmc_dmr_default_slideshow_delay(void) { return static_cast<uint16_t>(g_delay.load()); }
uint16_t nmc_dmr_default_slideshow_wait(void) { return static_cast<uint16_t>(g_wait.load()); }

const nmc_ioctl_row nmc_dmrcp_ioctls[] = {
    {"DMRCanPlay", 4097, true, can_play},
    {"DMRSetSlideshowDelay", 4102, true, set_delay},
    {"DMRGetSlideshowDelay", 4103, false, get_delay},
    {"DMRSetSlideshowTransWaitTime", 4104, true, set_wait},
    {"DMRGetSlideshowTransWaitTime", 4105, false, get_wait},
    {"DMRIsQueueControlled", 4106, false, nmc_queue_ioctl_is_controlled},
    {nullptr, 0, false, nullptr},
};
