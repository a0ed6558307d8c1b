// Instances, observers and the end-of-run checks.
#include "host_session.h"

#include "host_output.h"
#include "host_slots.h"
#include "host_shutdown.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace host {

size_t Session::next_unconsumed(size_t from) {
  size_t have = event_log().size();
  while (from < have && from < consumed.size() && consumed[from]) ++from;
  return from;
}

void Session::consume(size_t index) {
  if (consumed.size() <= index) consumed.resize(index + 1, false);
  consumed[index] = true;
  event_cursor = next_unconsumed(event_cursor);
}

bool Session::new_instance() {
  iZelControlPoint2XPCom *instance = nullptr;
  std::string why;
  nsresult rv = create_instance(lib, by_constructor, &instance, why);
  if (NS_FAILED(rv) || instance == nullptr) {
    say("error", "no instance: " + (why.empty() ? result_name(rv) : why));
    return false;
  }
  instances.push_back(instance);
  current = instances.size() - 1;
  emit(Record("instance").num("number", static_cast<int64_t>(instances.size()))
           .str("by", by_constructor ? "NSModule constructor" : "NSGetModule, contract ID"));
  if (!signals_taken) return true;
  for (const std::string &change : compare_signals(signals_before, take_signal_snapshot()))
    say("error", "the component changed a signal disposition: " + change);
  return true;
}

RecordingObserver *Session::add_observer(const std::string &kind) {
  iZelControlPoint2XPCom *c = component();
  if (c == nullptr) {
    say("error", "no instance to add an observer to");
    return nullptr;
  }
  int n = 1;
  for (const ObserverEntry &e : observers)
    if (e.observer->kind() == kind) ++n;
  auto *observer = new RecordingObserver(kind + std::to_string(n), kind);
  observer->AddRef();
  observers.push_back(ObserverEntry{observer});
  std::vector<Token> args(1);
  args[0].text = observer->name();
  std::string method = kind == "cp" ? "AddControlPointObserver" : "AddRendererObserver";
  CallResult r = call_slot(c, method, args, [this](const std::string &name) -> iZelControlPoint2XPComObserver * {
    ObserverEntry *e = find_observer(name);
    return e != nullptr ? e->observer : nullptr;
  });
  if (!r.made || NS_FAILED(r.rv)) return nullptr;
  note_registration(method, observer);
  return observer;
}

ObserverEntry *Session::find_observer(const std::string &name) {
  for (ObserverEntry &e : observers)
    if (e.observer->name() == name) return &e;
  return nullptr;
}

void Session::note_registration(const std::string &method, iZelControlPoint2XPComObserver *observer) {
  for (ObserverEntry &e : observers) {
    if (e.observer != observer) continue;
    if (method == "AddControlPointObserver") ++e.cp_registrations;
    if (method == "RemoveControlPointObserver" && e.cp_registrations > 0) --e.cp_registrations;
    if (method == "AddRendererObserver") ++e.renderer_registrations;
    if (method == "RemoveRendererObserver" && e.renderer_registrations > 0) --e.renderer_registrations;
  }
}

int Session::finish() {
  int failures = setup_failures;
  NS_BeginShutdown();
  // Every registration the host made, removed through the slots (the
  // component's lists hold references until then).
  iZelControlPoint2XPCom *c = component();
  for (ObserverEntry &e : observers) {
    std::vector<Token> args(1);
    args[0].text = e.observer->name();
    auto lookup = [&e](const std::string &) -> iZelControlPoint2XPComObserver * { return e.observer; };
    while (c != nullptr && e.cp_registrations > 0) {
      CallResult r = call_slot(c, "RemoveControlPointObserver", args, lookup);
      --e.cp_registrations;
      if (NS_FAILED(r.rv)) ++failures;
    }
    while (c != nullptr && e.renderer_registrations > 0) {
      CallResult r = call_slot(c, "RemoveRendererObserver", args, lookup);
      --e.renderer_registrations;
      if (NS_FAILED(r.rv)) ++failures;
    }
  }
  for (iZelControlPoint2XPCom *instance : instances) {
    nsrefcnt left = instance->Release();
    if (left != 0) {
      say("error", "an instance still holds " + std::to_string(left) + " references after the host's release");
      ++failures;
    }
  }
  instances.clear();
  if (end_library) failures += host::end_library(lib, allowed_threads);
  NS_ShutdownXPCOM();

  for (ObserverEntry &e : observers) {
    nsrefcnt refs = e.observer->references();
    emit(Record("observer").str("name", e.observer->name()).num("events", static_cast<int64_t>(e.observer->received()))
             .num("references", refs));
    if (refs != 1) {
      say("error", "observer " + e.observer->name() + " holds " + std::to_string(refs) +
                       " references at the end (1 expected: the host's own)");
      ++failures;
    }
  }
  int64_t balance = NS_LiveBlocks() - blocks_before;
  emit(Record("balance").num("blocks", balance).num("stalls", NS_ProxyStallCount())
           .num("events", static_cast<int64_t>(event_log().size()))
           .num("off_main", static_cast<int64_t>(event_log().off_main()))
           .num("overlapped", static_cast<int64_t>(event_log().overlapped())));
  if (balance != 0) {
    say("error", "allocator balance " + std::to_string(balance) + " blocks: the component and the host did not free "
                 "everything they handed each other");
    ++failures;
  }
  if (event_log().off_main() != 0) {
    say("error", std::to_string(event_log().off_main()) + " observer calls ran off the main thread");
    ++failures;
  }
  if (event_log().overlapped() != 0) {
    say("error", std::to_string(event_log().overlapped()) + " observer calls overlapped another");
    ++failures;
  }
  if (signals_taken) {
    for (const std::string &change : compare_signals(signals_before, take_signal_snapshot())) {
      say("error", "signal disposition changed while the component ran: " + change);
      ++failures;
    }
  }
  if (exit_calls() != 0)
    say("info", "the library called the exit function " + std::to_string(exit_calls()) + " times (last status " +
                    std::to_string(last_exit_status()) + ")");
  // The host's own references go last: the observers may be gone now.
  for (ObserverEntry &e : observers) e.observer->Release();
  observers.clear();
  return failures;
}

}  // namespace host
