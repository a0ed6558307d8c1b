#include "wait_list.h"

#include <vector>

#include "error_stream.h"
#include "options.h"
#include "text.h"

namespace zel {

WaitList::WaitList(Options& options, ProcessSource& source, ErrorStream& errors, FILE* out)
    : o_(options), source_(source), errors_(errors), out_(out) {}

void WaitList::Add(uint32_t process_id, const char* name) {
  if (!o_.wait_for_exit) return;
  if (count_ == kSlots) {
    errors_.Write("zel: Too many processes to wait for\n");
    throw ProgramExit{3};
  }
  entries_[count_].process_id = process_id;
  CopyBounded(entries_[count_].name, name);
  ++count_;
}

int WaitList::Wait() {
  std::vector<ProcessHandle> handles(count_, 0);
  for (size_t i = 0; i < count_; ++i) {
    handles[i] = source_.OpenProcess(kSynchronizeAccess, entries_[i].process_id);
    if (handles[i] == 0) {
      errors_.Printf("zel: Unable to open process %s (%d)\n", entries_[i].name,
                     static_cast<int>(entries_[i].process_id));
    }
  }
  const uint32_t timeout = o_.delay != 0 ? static_cast<uint32_t>(o_.delay) : kWaitInfinite;
  const WaitResult result = source_.WaitForProcesses(handles, o_.wait_for_all, timeout);
  int code = 0;
  if (result.outcome == WaitOutcome::kTimeout) {
    errors_.Write("zel: The time-out interval elapsed\n");
    code = 1;
  } else if (result.outcome == WaitOutcome::kFailed || result.index >= count_) {
    errors_.Write("zel: Wait failed\n");
    code = 2;
  } else if (o_.wait_for_all && count_ > 1) {
    std::fputs("\nzel: Waiting for all processes completed\n", out_);
  } else {
    const Entry& ended = entries_[result.index];
    std::fprintf(out_, "\nzel: Waiting completed for process %s (%u)\n", ended.name,
                 ended.process_id);
  }
  std::fflush(out_);
  for (size_t i = count_; i-- > 0;) {
    if (handles[i] != 0) source_.CloseProcess(handles[i]);
  }
  count_ = 0;
  return code;
}

}  // namespace zel
