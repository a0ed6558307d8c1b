// lm_dmrcp_play: the "PlayQueue" command for the renderer's queue, built
// from the play flags and the context's queue cursor and slideshow times.
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_internal.h"

namespace {

struct PlaySettings {
  uint32_t cursor = 0;
  uint16_t delay = 0;
  uint16_t wait = 0;
};

lm_nmc_result_t read_settings(uint32_t id, PlaySettings *settings) {
  if (!lm_nmc_is_dmr_context(id)) return LM_NMC_INVALID_INDEX;
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(context);
  if (dmr != nullptr) {
    settings->cursor = dmr->queue_cursor;
    settings->delay = dmr->slideshow_delay;
    settings->wait = dmr->slideshow_wait;
  }
  nmc_context_release(context);
  return dmr != nullptr ? LM_NMC_OK : LM_NMC_OUT_OF_MEMORY;
}

// A random position below count; the generator is seeded once.
uint32_t random_below(uint32_t count) {
  static std::once_flag seeded;
  static std::mutex lock;
  std::call_once(seeded, [] { std::srand(static_cast<unsigned>(std::time(nullptr))); });
  std::lock_guard<std::mutex> hold(lock);
  return static_cast<uint32_t>(std::rand()) % count;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_play(uint32_t context, uint32_t flags) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  const bool shuffle = (flags & LM_DMR_PLAY_SHUFFLE) != 0;
  const bool repeat_one = (flags & LM_DMR_PLAY_REPEAT_ONE) != 0;
  PlaySettings settings;
  if (read_settings(context, &settings) != LM_NMC_OK) return shuffle ? LM_NMC_INVALID_INDEX : NMC_DMR_DEVICE_GONE;
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  // The renderer's queue is named by its UDN.
  const std::string queue = target.udn;
  uint32_t start = settings.cursor;
  const char *mode = repeat_one ? "REPEAT_ONE" : "Normal";
  if (shuffle) {
    start = 0;
    mode = "Shuffle";
    if (repeat_one) {
      mode = "REPEAT_ONE";
      nmc_dmr_reply info;
      result = nmc_dmr_command("GetQueueInfo", target.index, {{"QueueID", queue}}, &info);
      if (result != LM_NMC_OK) return result;
      const char *count = info.value("Count");
      uint32_t entries = count != nullptr ? static_cast<uint32_t>(std::strtoul(count, nullptr, 10)) : 0;
      if (entries >= 2) start = random_below(entries);
    }
  }
  const bool repeat = (flags & (LM_DMR_PLAY_REPEAT | LM_DMR_PLAY_REPEAT_ONE)) != 0;
  const bool consume = (flags & LM_DMR_PLAY_CONSUME) != 0;
  nmc_dmr_reply reply;
  return nmc_dmr_command("PlayQueue", target.index,
                         {{"QueueID", queue},
                          {"StartIndex", std::to_string(start)},
                          {"PlayMode", mode},
                          {"SlideshowInterval", std::to_string(settings.delay)},
                          {"SlideshowTransitWaitTime", std::to_string(settings.wait)},
                          {"Repeat", repeat ? "true" : "false"},
                          {"Consume", consume ? "true" : "false"}},
                         &reply);
}
