// Pages read ahead for a level's page cache (see lm_dmscp_ahead.h).
#include "nmc/lm_dmscp_ahead.h"

#include "nmc/lm_dmscp_internal.h"

namespace {

// A level keeps at most this many pages read ahead: the one a walk's next
// request takes and the one after it.
constexpr size_t kMarks = 2;

}  // namespace

std::shared_ptr<nmc_dms_ahead> nmc_dms_ahead_begin(uint32_t context, uint32_t index, uint32_t after) {
  std::shared_ptr<nmc_dms_ahead> made;
  nmc_dms_with_context(context, [&](nmc_dms_state &state) -> lm_nmc_result_t {
    nmc_dms_level &level = state.top();
    if (level.type != NMC_LEVEL_CONTAINER && level.type != NMC_LEVEL_SEARCH && level.type != NMC_LEVEL_BOOKMARK) {
      return LM_NMC_OK;
    }
    if (level.count_known && index >= level.count) return LM_NMC_OK;
    if (!level.page.empty() && level.page_first <= index && index - level.page_first < level.page.size()) {
      return LM_NMC_OK;
    }
    bool following = after == NMC_DMS_AHEAD_ANY;
    for (const auto &marked : level.aheads) {
      if (marked->first == index) return LM_NMC_OK;
      if (marked->first == after) following = true;
    }
    if (!following) return LM_NMC_OK;
    auto ahead = std::make_shared<nmc_dms_ahead>();
    ahead->command = nmc_dms_page_command(state, level, index);
    ahead->first = index;
    level.aheads.push_back(ahead);
    if (level.aheads.size() > kMarks) {
      nmc_dms_ahead_cancel(*level.aheads.front());
      level.aheads.erase(level.aheads.begin());
    }
    made = std::move(ahead);
    return LM_NMC_OK;
  });
  return made;
}

void nmc_dms_ahead_fetch(nmc_dms_ahead &ahead) {
  {
    std::lock_guard<std::mutex> hold(ahead.lock);
    if (ahead.state != nmc_dms_ahead::kWaiting) return;
    ahead.state = nmc_dms_ahead::kRunning;
  }
  bool answered = false;
  std::string text;
  try {
    answered = nmc_dms_send(ahead.command, &text);
  } catch (...) {
    answered = false;
  }
  std::lock_guard<std::mutex> hold(ahead.lock);
  ahead.answered = answered;
  ahead.text = std::move(text);
  ahead.state = nmc_dms_ahead::kDone;
  ahead.done.notify_all();
}

void nmc_dms_ahead_cancel(nmc_dms_ahead &ahead) {
  std::lock_guard<std::mutex> hold(ahead.lock);
  if (ahead.state == nmc_dms_ahead::kWaiting) ahead.state = nmc_dms_ahead::kCancelled;
}

bool nmc_dms_ahead_take(nmc_dms_level &level, const std::string &command, uint32_t first, nmc_dms_reply *reply,
                        lm_nmc_result_t *result) {
  std::shared_ptr<nmc_dms_ahead> ahead;
  for (auto it = level.aheads.begin(); it != level.aheads.end(); ++it) {
    if ((*it)->first == first) {
      ahead = std::move(*it);
      level.aheads.erase(it);
      break;
    }
  }
  if (!ahead) return false;
  std::unique_lock<std::mutex> hold(ahead->lock);
  if (ahead->command != command) {
    if (ahead->state == nmc_dms_ahead::kWaiting) ahead->state = nmc_dms_ahead::kCancelled;
    return false;
  }
  // Not started yet (its thread is busy with another page): asking now is
  // quicker than waiting for the thread.
  if (ahead->state == nmc_dms_ahead::kWaiting) {
    ahead->state = nmc_dms_ahead::kCancelled;
    return false;
  }
  ahead->done.wait(hold, [&] { return ahead->state != nmc_dms_ahead::kRunning; });
  if (ahead->state != nmc_dms_ahead::kDone || !ahead->answered) return false;
  std::string text = std::move(ahead->text);
  hold.unlock();
  // The answer counts as the reader's own (a server's refusal included);
  // a command that got none is sent again by the reader.
  *result = nmc_dms_read_answer(text, first, reply);
  return true;
}
