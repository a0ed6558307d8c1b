// Recording observers and the event log.
#include "host_observer.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "host_output.h"
#include "xpcom_main_thread.h"

namespace host {

namespace {
// OnEvent calls running right now, over every observer of the host: the
// component's delivery must run them one at a time.
std::atomic<int> g_in_event{0};
}  // namespace

void EventLog::add(Event event) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!event.on_main) ++off_main_;
  if (event.overlapped) ++overlapped_;
  events_.push_back(std::move(event));
}

size_t EventLog::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return events_.size();
}

Event EventLog::at(size_t index) {
  std::lock_guard<std::mutex> guard(lock_);
  return events_.at(index);
}

size_t EventLog::off_main() {
  std::lock_guard<std::mutex> guard(lock_);
  return off_main_;
}

size_t EventLog::overlapped() {
  std::lock_guard<std::mutex> guard(lock_);
  return overlapped_;
}

EventLog &event_log() {
  static EventLog log;
  return log;
}

RecordingObserver::RecordingObserver(std::string name, std::string kind)
    : name_(std::move(name)), kind_(std::move(kind)) {}

NS_IMETHODIMP RecordingObserver::QueryInterface(const nsIID &iid, void **result) {
  if (result == nullptr) return NS_ERROR_NULL_POINTER;
  *result = nullptr;
  if (iid != NS_GET_IID(iZelControlPoint2XPComObserver) && iid != NS_GET_IID(nsISupports)) return NS_NOINTERFACE;
  AddRef();
  *result = static_cast<iZelControlPoint2XPComObserver *>(this);
  return NS_OK;
}

NS_IMETHODIMP_(nsrefcnt) RecordingObserver::AddRef() { return ++count_; }

NS_IMETHODIMP_(nsrefcnt) RecordingObserver::Release() {
  nsrefcnt left = --count_;
  if (left == 0) delete this;
  return left;
}

NS_IMETHODIMP RecordingObserver::OnEvent(const char *text) {
  bool overlapped = g_in_event.fetch_add(1) != 0;
  Event event{name_, text != nullptr ? text : "", NS_IsMainThread() == PR_TRUE, overlapped, elapsed()};
  received_.fetch_add(1);
  Record record("event");
  std::string thread = event.on_main ? "main" : "tid " + std::to_string(syscall(SYS_gettid));
  record.str("observer", name_).str("thread", thread).str("text", event.text);
  if (overlapped) record.boolean("overlapped", true);
  emit(record);
  event_log().add(std::move(event));
  int ms = sleep_ms_.load();
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  g_in_event.fetch_sub(1);
  return NS_OK;
}

}  // namespace host
