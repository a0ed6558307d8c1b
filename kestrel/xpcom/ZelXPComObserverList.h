// One list of observers of the component: each entry holds a reference, the
// same observer may be listed more than once, and events are delivered to
// every entry in list order through synchronous main-thread proxies.
#ifndef KESTREL_XPCOM_ZELXPCOMOBSERVERLIST_H
#define KESTREL_XPCOM_ZELXPCOMOBSERVERLIST_H

#include <cstddef>
#include <mutex>
#include <vector>

#include "xpcom/iZelControlPoint2XPCom.h"

class ZelXPComObserverList {
 public:
  // Adds a reference and appends the observer.
  void Add(iZelControlPoint2XPComObserver *observer);
  // Removes the first entry of that observer and releases its reference;
  // false when it was not listed.
  bool Remove(iZelControlPoint2XPComObserver *observer);
  // Empties the list and releases every reference it held.
  void Clear();
  size_t Count();

  // Delivers text to every observer listed when the call starts, one after
  // another, each through a synchronous proxy to the main thread, so the
  // calling thread waits until each has run. An observer without a proxy
  // (no proxy service, or none for it) misses the event; one that fails
  // does not stop the next. Answers how many observers received the call.
  size_t Deliver(const char *text);

 private:
  // The host adds and removes observers on its main thread while the
  // controller's notifier threads deliver; the lock covers the entries only
  // and is never held while an observer runs (an observer may add or remove
  // observers from OnEvent).
  std::mutex lock_;
  std::vector<iZelControlPoint2XPComObserver *> observers_;
};

#endif
