// One run of the host: the loaded library, its instances, the observers
// with their registrations, script variables, and the checks at the end
// (observers removed, allocator balance, observer references, signals).
#ifndef KESTREL_HOST_SESSION_H
#define KESTREL_HOST_SESSION_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host_load.h"
#include "host_observer.h"
#include "host_signals.h"

namespace host {

struct ObserverEntry {
  RecordingObserver *observer;  // the host's own reference
  int cp_registrations = 0;      // entries in the control point list
  int renderer_registrations = 0;
};

class Session {
 public:
  Library lib;
  bool by_constructor = false;
  std::vector<iZelControlPoint2XPCom *> instances;  // one reference each
  size_t current = 0;
  std::vector<ObserverEntry> observers;
  std::map<std::string, std::string> variables;
  // Events an expect-event matched; each matches one expectation only.
  std::vector<bool> consumed;
  size_t event_cursor = 0;  // every event before it is consumed
  int setup_failures = 0;   // observers the component refused at the start
  int64_t blocks_before = 0;
  SignalSnapshot signals_before;
  bool signals_taken = false;
  // finish() ends the library cleanly (its exported end) after the instances
  // are released, and checks that at most this many threads are left (those
  // of the process before the library was loaded).
  bool end_library = false;
  int allowed_threads = 1;

  iZelControlPoint2XPCom *component() { return instances.empty() ? nullptr : instances[current]; }
  // The first unconsumed event at or after from; the log's size when none.
  size_t next_unconsumed(size_t from);
  void consume(size_t index);

  // Creates an instance and makes it the current one; false on failure
  // (reported).
  bool new_instance();
  // A new observer named kind + number ("cp1", "renderer2"), added through
  // the current instance's Add slot. Null when the add failed (reported).
  RecordingObserver *add_observer(const std::string &kind);
  ObserverEntry *find_observer(const std::string &name);
  // Counts an Add/Remove slot call that succeeded.
  void note_registration(const std::string &method, iZelControlPoint2XPComObserver *observer);

  // Ends the run: shutdown of the proxies begins (a firing thread waiting
  // for the main thread is released), every registration is removed, the
  // instances are released, the layer shuts down. Then the checks; answers
  // the number of failed checks (each reported).
  int finish();
};

}  // namespace host

#endif
