#ifndef KESTREL_MEDIA_ZEL_CALLBACK_DATA_H
#define KESTREL_MEDIA_ZEL_CALLBACK_DATA_H

/* Handler records of the media object model and the guarded array that holds
 * them. ZelControlPoint2, ZelMediaServer2 and ZelMediaRenderer2 each keep one
 * array for their own event class. At most one record per handler function;
 * registering again moves the handler to the end with the new user data.
 *
 * Delivery takes a snapshot of the records under the array's lock (each
 * record held by the snapshot) and calls the handlers with no lock held, so a
 * handler may register or remove handlers, or call back into the object,
 * while it runs. A handler removed during a delivery may still receive that
 * one delivery, never a later one. */

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

template <typename Event>
struct CALLBACK_DATA {
  typedef bool (*Handler)(Event *event, void *userData);
  Handler handler = nullptr;
  void *userData = nullptr;
};

template <typename Event>
class ZelHandlerArray {
 public:
  typedef typename CALLBACK_DATA<Event>::Handler Handler;

  void Add(Handler handler, void *userData) {
    if (handler == nullptr) return;
    auto record = std::make_shared<CALLBACK_DATA<Event>>();
    record->handler = handler;
    record->userData = userData;
    std::lock_guard<std::mutex> guard(lock_);
    EraseLocked(handler);
    records_.push_back(record);
  }

  void Remove(Handler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    EraseLocked(handler);
  }

  bool Empty() {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.empty();
  }

  size_t Count() {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.size();
  }

  void Clear() {
    std::vector<std::shared_ptr<CALLBACK_DATA<Event>>> gone;
    std::lock_guard<std::mutex> guard(lock_);
    gone.swap(records_);
  }

  /* Calls every handler registered when the call starts, in order; their
   * results are ignored. The event is neither kept nor freed here. */
  void Fire(Event *event) {
    if (event == nullptr) return;
    std::vector<std::shared_ptr<CALLBACK_DATA<Event>>> snapshot;
    {
      std::lock_guard<std::mutex> guard(lock_);
      snapshot = records_;
    }
    for (const auto &record : snapshot) (void)record->handler(event, record->userData);
  }

 private:
  void EraseLocked(Handler handler) {
    records_.erase(std::remove_if(records_.begin(), records_.end(),
                                  [handler](const std::shared_ptr<CALLBACK_DATA<Event>> &record) {
                                    return record->handler == handler;
                                  }),
                   records_.end());
  }

  // The main thread registers while notifier threads fire.
  std::mutex lock_;
  std::vector<std::shared_ptr<CALLBACK_DATA<Event>>> records_;
};

#endif
