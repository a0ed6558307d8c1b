// lm_nmc_handoff: what plays on one renderer moves to another one. The new
// renderer gets the queue and plays the same entry; once it reports
// PLAYING it is sought to the old renderer's position, and only then is
// the old renderer stopped. Whatever fails before that leaves the old
// renderer playing and gives the new one its own queue back.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/upnp_log.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_across.h"
#include "nmc/lm_nmc_cancel.h"
#include "nmc/lm_nmc_handoff_queue.h"
#include "nmc/lm_queue.h"

namespace {

const uint32_t k_default_wait_ms = 15000;
const uint32_t k_max_wait_ms = 120000;
const int k_poll_ms = 200;

// A renderer context for the length of one handoff.
class renderer_context {
 public:
  renderer_context() { created_ = lm_dmrcp_create_context(&id_) == LM_NMC_OK; }
  ~renderer_context() {
    if (created_) lm_dmrcp_delete_context(id_);
  }
  renderer_context(const renderer_context &) = delete;
  renderer_context &operator=(const renderer_context &) = delete;
  bool created() const { return created_; }
  uint32_t id() const { return id_; }

 private:
  uint32_t id_ = 0;
  bool created_ = false;
};

std::string code_words(uint32_t code) {
  const char *text = upnp_get_errmsg(static_cast<int>(code));
  return std::to_string(code) + " " + (text != nullptr ? text : "unknown error");
}

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

const char *state_name(uint32_t state) {
  static const char *const names[] = {"STOPPED",          "PLAYING",   "TRANSITIONING", "PAUSED_PLAYBACK",
                                      "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};
  return state < sizeof names / sizeof names[0] ? names[state] : "UNKNOWN";
}

// Points the context at the renderer named by UDN or list position.
lm_nmc_result_t point(uint32_t context, const std::string &name) {
  bool digits = !name.empty();
  for (char c : name) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits && name.size() < 10) return lm_dmrcp_go_index(context, static_cast<uint32_t>(std::strtoul(name.c_str(), nullptr, 10)));
  return lm_dmrcp_go_bookmark(context, name.c_str());
}

// "H:MM:SS" (with optional fraction) in milliseconds; -1 when unreadable.
int64_t position_ms(const char *text) {
  unsigned h = 0, m = 0, s = 0;
  if (text == nullptr || std::sscanf(text, "%u:%u:%u", &h, &m, &s) != 3 || m > 59 || s > 59) return -1;
  return (static_cast<int64_t>(h) * 3600 + m * 60 + s) * 1000;
}

struct handoff {
  renderer_context from_context, to_context;
  nmc_dmr_target from, to;
  nmc_handoff_queue queue;     // what moves
  nmc_handoff_queue to_saved;  // the new renderer's own queue, for a failure
  uint32_t from_state = 0;
  uint32_t cancel = 0;  // the caller's cancel flag (0: none)
  std::string report;

  lm_nmc_result_t fail(lm_nmc_result_t code, const std::string &words) {
    report = "handoff failed: " + words;
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "lm_nmc_handoff", "NMC: %s", report.c_str());
    return code;
  }

  // Gives the new renderer its own queue back (best effort) and fails.
  lm_nmc_result_t undo(lm_nmc_result_t code, const std::string &words, bool stop_to) {
    if (stop_to) lm_dmrcp_stop(to_context.id());
    nmc_handoff_write_queue(to, to_saved.entries);
    return fail(code, words + "; " + quoted(from.name) + " keeps playing");
  }

  // The new renderer did not take the entry: it left, does not answer, or
  // refused it.
  lm_nmc_result_t play_failed(lm_nmc_result_t result) {
    nmc_dmr_target now;
    if (result == NMC_DMR_DEVICE_GONE || nmc_dmr_find(to_context.id(), &now) == NMC_DMR_DEVICE_GONE) {
      return undo(3, quoted(to.name) + " left during the handoff", false);
    }
    if (result == 6 || result == 23) {  // no response, connection lost
      return undo(result, quoted(to.name) + " does not answer (" + code_words(result) + ")", true);
    }
    if (result == LM_NMC_NOT_FOUND) {  // the queue skipped every entry the renderer refused
      return undo(result, quoted(to.name) + " refused every entry of the queue", true);
    }
    return undo(result, quoted(to.name) + " refused to play: " + code_words(result), true);
  }

  lm_nmc_result_t find(const char *from_name, const char *to_name) {
    if (!from_context.created() || !to_context.created()) return fail(LM_NMC_NO_FREE_CONTEXT, "no free renderer context");
    lm_nmc_result_t result = point(from_context.id(), from_name);
    if (result == LM_NMC_OK) result = nmc_dmr_find(from_context.id(), &from);
    if (result != LM_NMC_OK) return fail(3, std::string("no renderer ") + quoted(from_name) + " is listed");
    result = point(to_context.id(), to_name);
    if (result == LM_NMC_OK) result = nmc_dmr_find(to_context.id(), &to);
    if (result != LM_NMC_OK) return fail(3, std::string("no renderer ") + quoted(to_name) + " is listed");
    if (from.udn == to.udn) {
      return fail(LM_NMC_INVALID_PARAMETER, quoted(from.name) + " is both the renderer to hand off from and the one to hand to");
    }
    return LM_NMC_OK;
  }

  // What plays on the old renderer: its queue's entry, else its track.
  lm_nmc_result_t read_source() {
    lm_nmc_result_t result = lm_dmrcp_get_state(from_context.id(), &from_state, 0, nullptr, 0, nullptr);
    if (result != LM_NMC_OK) return fail(result, quoted(from.name) + " does not answer: " + code_words(result));
    if (from_state != LM_DMR_PLAYING && from_state != LM_DMR_PAUSED_PLAYBACK && from_state != LM_DMR_TRANSITIONING) {
      return fail(LM_NMC_NOT_FOUND, std::string("nothing plays on ") + quoted(from.name) + " (" + state_name(from_state) + ")");
    }
    result = nmc_handoff_read_queue(from, &queue);
    if (result != LM_NMC_OK) return fail(result, "the queue of " + quoted(from.name) + " cannot be read: " + code_words(result));
    // A queue that ended or was stopped may still name its last entry
    // while the renderer plays something else: then its track moves.
    if (queue.current >= 0 && queue.active) return LM_NMC_OK;
    result = nmc_handoff_read_track(from, &queue);
    if (result != LM_NMC_OK) {
      return fail(LM_NMC_NOT_FOUND, quoted(from.name) + " plays nothing from its queue and names no track");
    }
    return LM_NMC_OK;
  }

  // Waits until the new renderer reports PLAYING: 0, 3 when it left, 6
  // when the wait ran out.
  lm_nmc_result_t wait_playing(uint32_t wait_ms, uint32_t *last_state) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      uint32_t state = 0;
      lm_nmc_result_t result = lm_dmrcp_get_state(to_context.id(), &state, 0, nullptr, 0, nullptr);
      if (result == NMC_DMR_DEVICE_GONE || result == LM_NMC_GOING_DOWN) return result;
      if (result == LM_NMC_OK) {
        *last_state = state;
        if (state == LM_DMR_PLAYING) return LM_NMC_OK;
      }
      if (nmc_cancel_is_set(cancel)) return LM_NMC_CANCELLED;
      if (std::chrono::steady_clock::now() >= until) return 6;
      std::this_thread::sleep_for(std::chrono::milliseconds(k_poll_ms));
    }
  }

  // Seeks the new renderer to where the old one is now; the words for the
  // report ("at H:MM:SS" or "from the start (why)").
  std::string seek() {
    char position[32] = "";
    uint32_t state = 0;
    int64_t at = -1;
    if (lm_dmrcp_get_state(from_context.id(), &state, sizeof position, position, 0, nullptr) == LM_NMC_OK) {
      at = position_ms(position);
    }
    if (at < 0) return "from the start (the position of " + quoted(from.name) + " is not known)";
    if (at < 1000) return "from the start";
    uint32_t caps = 0;
    lm_nmc_result_t result = lm_dmrcp_get_seek_capabilities(to_context.id(), &caps);
    if (result != LM_NMC_OK || (caps & LM_DMR_SEEK_TIME) == 0) {
      return "from the start (" + quoted(to.name) + " cannot seek by time)";
    }
    // A renderer that has just begun may refuse a seek for a moment, or
    // take it and stay where it was; the position it reports afterwards
    // tells.
    bool taken = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(400));
      result = lm_dmrcp_seek_time(to_context.id(), at);
      if (result != LM_NMC_OK) continue;
      taken = true;
      if (moved_to(at)) return std::string("at ") + position;
    }
    if (taken) return "from the start (" + quoted(to.name) + " did not move to " + position + ")";
    return "from the start (" + quoted(to.name) + " refused the seek to " + position + ": " + code_words(result) + ")";
  }

  // Whether the new renderer reports a position near `at` within a second.
  bool moved_to(int64_t at) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    do {
      char position[32] = "";
      uint32_t state = 0;
      if (lm_dmrcp_get_state(to_context.id(), &state, sizeof position, position, 0, nullptr) == LM_NMC_OK &&
          position_ms(position) >= at - 2000) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(k_poll_ms));
    } while (std::chrono::steady_clock::now() < until);
    return false;
  }

  // The title of the entry that moves: from its stored metadata, else from
  // its server (through the queue functions on the old renderer's context).
  std::string entry_title() {
    const nmc_handoff_entry &entry = queue.entries[static_cast<size_t>(queue.current)];
    std::string title = nmc_handoff_entry_title(entry);
    char buffer[512];
    if (title.empty() && !entry.server_udn.empty() &&
        lm_queue_go_index(from_context.id(), static_cast<uint32_t>(queue.current)) == LM_NMC_OK &&
        lm_queue_extract_metadata(from_context.id(), "dc:title", 0, sizeof buffer, buffer) == LM_NMC_OK) {
      title = buffer;
    }
    return title;
  }

  lm_nmc_result_t run(const char *from_name, const char *to_name, uint32_t wait_ms) {
    lm_nmc_result_t result = find(from_name, to_name);
    if (result == LM_NMC_OK) result = read_source();
    if (result != LM_NMC_OK) return result;
    result = nmc_handoff_read_queue(to, &to_saved);
    if (result != LM_NMC_OK) return fail(result, "the queue of " + quoted(to.name) + " cannot be read: " + code_words(result));
    if (nmc_cancel_is_set(cancel)) return fail(LM_NMC_CANCELLED, "cancelled; " + quoted(from.name) + " keeps playing");
    result = nmc_handoff_write_queue(to, queue.entries);
    if (result != LM_NMC_OK) return undo(result, "the queue could not be copied to " + quoted(to.name) + ": " + code_words(result), false);
    result = nmc_handoff_play_queue(to, queue, queue.current);
    if (result != LM_NMC_OK) return play_failed(result);
    uint32_t last = 0;
    result = wait_playing(wait_ms, &last);
    if (result == NMC_DMR_DEVICE_GONE) return undo(3, quoted(to.name) + " left during the handoff", false);
    if (result == LM_NMC_GOING_DOWN) return fail(result, "the controller is stopping");
    if (result == LM_NMC_CANCELLED) return undo(result, "cancelled before " + quoted(to.name) + " played", true);
    if (result != LM_NMC_OK) {
      return undo(6, quoted(to.name) + " did not start playing within " + std::to_string(wait_ms) + " ms (" +
                         state_name(last) + ")", true);
    }
    const std::string where = seek();
    if (from_state == LM_DMR_PAUSED_PLAYBACK) lm_dmrcp_pause(to_context.id(), 0);
    std::string title = entry_title();
    report = "handed off from " + quoted(from.name) + " to " + quoted(to.name) + ": entry " +
             std::to_string(queue.current + 1) + " of " + std::to_string(queue.entries.size()) +
             (title.empty() ? std::string() : " " + quoted(title)) + " " + where;
    result = lm_dmrcp_stop(from_context.id());
    if (result != LM_NMC_OK) report += "; " + quoted(from.name) + " did not stop: " + code_words(result);
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "lm_nmc_handoff", "NMC: %s", report.c_str());
    return LM_NMC_OK;
  }
};

// Copies the report, cut on a UTF-8 character boundary.
void copy_report(const std::string &text, uint32_t size, char *buffer) {
  if (buffer == nullptr || size == 0) return;
  size_t n = text.size() < size ? text.size() : size - 1;
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

lm_nmc_result_t handoff_with(const char *from, const char *to, uint32_t wait_ms, uint32_t cancel, uint32_t size,
                             char *report) {
  if (report != nullptr && size > 0) report[0] = '\0';
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') {
    copy_report("handoff failed: name the renderer to hand off from and the one to hand to", size, report);
    return LM_NMC_INVALID_PARAMETER;
  }
  if (!lm_nmc_conn_init()) {
    copy_report("handoff failed: the controller is not running", size, report);
    return LM_NMC_GOING_DOWN;
  }
  if (wait_ms == 0) wait_ms = k_default_wait_ms;
  if (wait_ms > k_max_wait_ms) wait_ms = k_max_wait_ms;
  handoff work;
  work.cancel = cancel;
  lm_nmc_result_t result = work.run(from, to, wait_ms);
  copy_report(work.report, size, report);
  return result;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_handoff(const char *from, const char *to, uint32_t wait_ms,
                                                      uint32_t size, char *report) {
  return handoff_with(from, to, wait_ms, 0, size, report);
}

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_handoff_cancellable(const char *from, const char *to, uint32_t wait_ms,
                                                                  uint32_t cancel, uint32_t size, char *report) {
  return handoff_with(from, to, wait_ms, cancel, size, report);
}
