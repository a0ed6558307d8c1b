// The host's observers: each records the texts it receives with the thread
// and time of the call into the host's event log, and can be told to sleep
// in OnEvent (to hold a firing thread up).
#ifndef KESTREL_HOST_OBSERVER_H
#define KESTREL_HOST_OBSERVER_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "iZelControlPoint2XPCom.h"

namespace host {

struct Event {
  std::string observer;
  std::string text;
  bool on_main;        // OnEvent ran on the host's main thread
  bool overlapped;     // another OnEvent of this host ran at the same time
  double time;
};

// Every event any observer received, in the order of the calls.
class EventLog {
 public:
  void add(Event event);
  size_t size();
  Event at(size_t index);
  size_t off_main();
  size_t overlapped();

 private:
  // Observers are called on the main thread, but a component that calls one
  // directly from a thread of its own must be recorded too, not crash.
  std::mutex lock_;
  std::vector<Event> events_;
  size_t off_main_ = 0;
  size_t overlapped_ = 0;
};

EventLog &event_log();

class RecordingObserver final : public iZelControlPoint2XPComObserver {
 public:
  // kind: "cp" (control point observer) or "renderer".
  RecordingObserver(std::string name, std::string kind);

  NS_IMETHOD QueryInterface(const nsIID &iid, void **result) override;
  NS_IMETHOD_(nsrefcnt) AddRef() override;
  NS_IMETHOD_(nsrefcnt) Release() override;
  NS_IMETHOD OnEvent(const char *text) override;

  const std::string &name() const { return name_; }
  const std::string &kind() const { return kind_; }
  void set_sleep_ms(int ms) { sleep_ms_.store(ms); }
  nsrefcnt references() const { return count_.load(); }
  size_t received() const { return received_.load(); }

 private:
  ~RecordingObserver() = default;

  std::string name_;
  std::string kind_;
  // Proxies add and drop references on the component's firing threads.
  std::atomic<nsrefcnt> count_{0};
  std::atomic<int> sleep_ms_{0};
  std::atomic<size_t> received_{0};
};

}  // namespace host

#endif
