// Command dispatch of the host.
#include "host_commands.h"

#include <chrono>
#include <cstdlib>
#include <regex>

#include "host_across.h"
#include "host_output.h"
#include "host_playlists.h"
#include "host_slots.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

Status script_error(int line_no, const std::string &message) {
  say("error", (line_no > 0 ? "line " + std::to_string(line_no) + ": " : std::string()) + message);
  return Status::error;
}

// "250", "250ms", "2s", "1.5s" in milliseconds; -1 when malformed.
long parse_duration(const std::string &s) {
  if (s.empty()) return -1;
  char *end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  std::string unit = end != nullptr ? end : "";
  if (end == s.c_str() || v < 0 || v > 3600e3) return -1;
  if (unit.empty() || unit == "ms") return static_cast<long>(v);
  if (unit == "s") return static_cast<long>(v * 1000);
  return -1;
}

ObserverLookup lookup_for(Session &s) {
  return [&s](const std::string &name) -> iZelControlPoint2XPComObserver * {
    ObserverEntry *e = s.find_observer(name);
    return e != nullptr ? e->observer : nullptr;
  };
}

bool is_observer_slot(const std::string &method) {
  return method == "AddControlPointObserver" || method == "RemoveControlPointObserver" ||
         method == "AddRendererObserver" || method == "RemoveRendererObserver";
}

// Calls a slot for a short form (each word taken as a quoted word).
CallResult call_named(Session &s, const std::string &form, const std::string &method,
                      const std::vector<std::string> &words) {
  std::vector<Token> args;
  for (const std::string &w : words) {
    Token t;
    t.text = w;
    t.quoted = true;
    args.push_back(t);
  }
  return call_form(s, form, method, args);
}

}  // namespace

// Prints "not available yet" when the slot is not built in this component.
CallResult call_form(Session &s, const std::string &form, const std::string &method, const std::vector<Token> &args) {
  CallResult r = call_slot(s.component(), method, args, lookup_for(s));
  if (r.made && r.rv == NS_ERROR_NOT_IMPLEMENTED) say("info", form + ": not available yet (" + method + " is not built)");
  return r;
}

namespace {

Status short_form(Session &s, const std::string &form, const std::vector<Token> &t, int line_no) {
  std::vector<std::string> w;
  for (size_t k = 1; k < t.size(); ++k) w.push_back(t[k].text);
  auto need = [&](size_t lo, size_t hi, const char *usage) {
    if (w.size() < lo || w.size() > hi) {
      script_error(line_no, std::string("usage: ") + usage);
      return false;
    }
    return true;
  };
  if (form == "servers" || form == "renderers") {
    if (!need(0, 0, form == "servers" ? "servers" : "renderers")) return Status::error;
    bool servers = form == "servers";
    CallResult n = call_named(s, form, servers ? "GetNumServers" : "GetNumRenderers", {});
    if (!n.made || NS_FAILED(n.rv)) return Status::ok;
    long long count = n.out("count") != nullptr ? n.out("count")->number : 0;
    for (long long k = 0; k < count && k < 10000; ++k)
      call_named(s, form, servers ? "GetServerInfo" : "GetRendererInfo", {std::to_string(k)});
    return Status::ok;
  }
  if (form == "play") {
    if (!need(2, 4, "play BOOKMARK URL [NAME [TYPE]]")) return Status::error;
    std::string name = w.size() > 2 ? w[2] : w[1];
    std::string type = w.size() > 3 ? w[3] : "0";
    call_named(s, form, "PlayItem", {w[0], type, name, w[1]});
    return Status::ok;
  }
  if (form == "pause" || form == "resume" || form == "stop") {
    if (!need(1, 1, "pause|resume|stop BOOKMARK")) return Status::error;
    call_named(s, form, form == "pause" ? "Pause" : form == "resume" ? "Resume" : "StopRenderer", {w[0]});
    return Status::ok;
  }
  if (form == "vol" || form == "mute") {
    if (!need(1, 2, "vol BOOKMARK [PERCENT] | mute BOOKMARK [0|1]")) return Status::error;
    bool vol = form == "vol";
    if (w.size() == 2)
      call_named(s, form, vol ? "SetVolume" : "SetMute", {w[0], w[1]});
    else
      call_named(s, form, vol ? "GetVolume" : "GetMute", {w[0]});
    return Status::ok;
  }
  if (form == "queue") {
    if (!need(1, 1, "queue BOOKMARK")) return Status::error;
    CallResult n = call_named(s, form, "GetNumItemsInQueue", {w[0]});
    if (n.made && NS_SUCCEEDED(n.rv)) call_named(s, form, "GetCurrentQueueIndex", {w[0]});
    return Status::ok;
  }
  if (form == "pl-list") {
    if (!need(0, 0, "pl-list")) return Status::error;
    call_named(s, form, "GetPlaylistList", {});
    return Status::ok;
  }
  if (form == "date") {
    if (!need(0, 0, "date")) return Status::error;
    call_named(s, form, "GetCurrentDate", {});
    return Status::ok;
  }
  bool across = false;
  Status across_status = across_command(s, form, w, line_no, &across);
  if (across) return across_status;
  bool handled = false;
  Status status = playlist_form(s, form, w, line_no, &handled);
  if (handled) return status;
  return script_error(line_no, "unknown command \"" + form + "\" (\"help\" lists the commands)");
}

Status expect_event(Session &s, const std::string &line, int line_no) {
  // expect-event /REGEX/ TIMEOUT [VAR...]: the regex runs from the first
  // slash to the last one.
  size_t open = line.find('/');
  size_t close = line.rfind('/');
  if (open == std::string::npos || close == open)
    return script_error(line_no, "usage: expect-event /REGEX/ TIMEOUT [VAR...]");
  std::string pattern = line.substr(open + 1, close - open - 1);
  std::vector<Token> rest;
  std::string error;
  if (!tokenize(line.substr(close + 1), nullptr, rest, error)) return script_error(line_no, error);
  if (rest.empty()) return script_error(line_no, "expect-event needs a timeout");
  long timeout = parse_duration(rest[0].text);
  if (timeout < 0) return script_error(line_no, "bad timeout \"" + rest[0].text + "\" (ms, or with ms or s)");
  std::regex re;
  try {
    re = std::regex(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error &e) {
    return script_error(line_no, "bad regex /" + pattern + "/: " + e.what());
  }
  if (rest.size() - 1 > re.mark_count())
    return script_error(line_no, "more variables than groups in /" + pattern + "/");

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
  // Events are matched in arrival order; one passed over stays available to
  // later expectations (firing threads interleave freely).
  size_t scanned = s.event_cursor;
  for (;;) {
    size_t have = event_log().size();
    for (scanned = s.next_unconsumed(scanned); scanned < have; scanned = s.next_unconsumed(scanned + 1)) {
      Event e = event_log().at(scanned);
      std::smatch m;
      if (!std::regex_search(e.text, m, re)) continue;
      for (size_t v = 1; v < rest.size(); ++v) s.variables[rest[v].text] = m[v].str();
      s.consume(scanned);
      emit(Record("expect").str("regex", pattern).boolean("held", true).str("event", e.text)
               .str("observer", e.observer));
      return Status::ok;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    NS_ProcessMainThreadEvents(static_cast<PRInt32>(left < 50 ? left : 50));
  }
  emit(Record("expect").str("regex", pattern).boolean("held", false).num("line", line_no).num("timeout_ms", timeout));
  std::vector<std::string> arrived;
  size_t have = event_log().size();
  size_t open_events = 0;
  for (size_t k = s.next_unconsumed(s.event_cursor); k < have; k = s.next_unconsumed(k + 1)) {
    ++open_events;
    Event e = event_log().at(k);
    arrived.push_back(e.observer + " " + quoted(e.text));
  }
  std::string list;
  size_t from = arrived.size() > 20 ? arrived.size() - 20 : 0;
  for (size_t k = from; k < arrived.size(); ++k) list += "\n  " + arrived[k];
  say("error", "line " + std::to_string(line_no) + ": no event matched /" + pattern + "/ within " +
                   std::to_string(timeout) + " ms; " + std::to_string(open_events) + " unmatched event(s) arrived" +
                   (list.empty() ? "" : (from > 0 ? " (the last 20):" : ":")) + list);
  return Status::failed;
}

Status observer_command(Session &s, const std::vector<Token> &t, int line_no) {
  if (t.size() == 3 && t[1].text == "add" && (t[2].text == "cp" || t[2].text == "renderer"))
    return s.add_observer(t[2].text) != nullptr ? Status::ok : Status::failed;
  if (t.size() == 3 && t[1].text == "remove") {
    ObserverEntry *e = s.find_observer(t[2].text);
    if (e == nullptr) return script_error(line_no, "no observer named " + quoted(t[2].text));
    std::vector<Token> args(1, t[2]);
    const char *method = e->cp_registrations > 0 ? "RemoveControlPointObserver" : "RemoveRendererObserver";
    CallResult r = call_slot(s.component(), method, args, lookup_for(s));
    if (r.made && NS_SUCCEEDED(r.rv)) s.note_registration(method, e->observer);
    return Status::ok;
  }
  return script_error(line_no, "usage: observer add cp|renderer, observer remove NAME");
}

void help() {
  say("info", "commands: call METHOD ARGS... [=> RESULT]; servers; renderers; play BOOKMARK URL [NAME [TYPE]]; "
              "pause|resume|stop BOOKMARK; vol BOOKMARK [PERCENT]; mute BOOKMARK [0|1]; queue BOOKMARK; pl-list; pl-create NAME [TYPE [VAR]]; pl-add ID NAME URL...; pl-rename ID NAME; "
              "pl-delete ID; pl-item-rename ID INDEX NAME; pl-item-delete ID INDEX; pl-item-move ID FROM TO; "
              "pl-server; "
              "date; handoff FROM TO; search-all QUERY [ROWS]; observer add cp|renderer; observer remove NAME; observers; observer-sleep MS [NAME]; "
              "instance new|N; instances; expect-event /REGEX/ TIMEOUT [VAR...]; set VAR VALUE; sleep MS; "
              "balance; quit");
  say("info", "arguments: words, \"quoted\" (\\\" \\\\ \\n \\t \\xHH), 'literal', [ string array ], null, ${VAR}");
  int k = 1;
  for (const std::string &sig : slot_signatures()) say("info", std::to_string(k++) + " " + sig);
}

}  // namespace

void pump_events(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    NS_ProcessMainThreadEvents(static_cast<PRInt32>(left < 50 ? left : 50));
  }
  NS_ProcessMainThreadEvents(0);
}

Status execute(Session &s, const std::string &raw, int line_no) {
  size_t first = raw.find_first_not_of(" \t\r");
  if (first == std::string::npos || raw[first] == '#') return Status::ok;
  std::string line = raw.substr(first);
  if (line.compare(0, 12, "expect-event") == 0 && (line.size() == 12 || line[12] == ' ' || line[12] == '\t'))
    return expect_event(s, line, line_no);

  std::vector<Token> t;
  std::string error;
  auto lookup = [&s](const std::string &name, std::string &value) {
    auto it = s.variables.find(name);
    if (it == s.variables.end()) return false;
    value = it->second;
    return true;
  };
  if (!tokenize(line, lookup, t, error)) return script_error(line_no, error);
  if (t.empty()) return Status::ok;
  const std::string &cmd = t[0].text;

  if (cmd == "call") {
    if (t.size() < 2) return script_error(line_no, "usage: call METHOD ARGS... [=> RESULT]");
    std::vector<Token> args(t.begin() + 2, t.end());
    std::string expected;
    if (args.size() >= 2 && !args[args.size() - 2].quoted && args[args.size() - 2].text == "=>") {
      expected = args.back().text;
      args.resize(args.size() - 2);
    }
    if (s.component() == nullptr) return script_error(line_no, "no instance");
    ObserverLookup observers = lookup_for(s);
    iZelControlPoint2XPComObserver *target = nullptr;
    if (is_observer_slot(t[1].text) && args.size() == 1) target = observers(args[0].text);
    CallResult r = call_slot(s.component(), t[1].text, args, observers);
    if (!r.made) return Status::error;
    if (NS_SUCCEEDED(r.rv) && target != nullptr) s.note_registration(t[1].text, target);
    if (!expected.empty() && expected != result_name(r.rv)) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08x", r.rv);
      if (expected != code) {
        say("error", "line " + std::to_string(line_no) + ": " + t[1].text + " answered " + result_name(r.rv) +
                         ", expected " + expected);
        return Status::failed;
      }
    }
    return Status::ok;
  }
  if (cmd == "observer") return observer_command(s, t, line_no);
  if (cmd == "observers") {
    for (ObserverEntry &e : s.observers)
      emit(Record("observer").str("name", e.observer->name()).num("cp", e.cp_registrations)
               .num("renderer", e.renderer_registrations).num("events", static_cast<int64_t>(e.observer->received()))
               .num("references", e.observer->references()));
    return Status::ok;
  }
  if (cmd == "observer-sleep") {
    long ms = t.size() >= 2 ? parse_duration(t[1].text) : -1;
    if (ms < 0 || t.size() > 3) return script_error(line_no, "usage: observer-sleep MS [NAME]");
    bool any = false;
    for (ObserverEntry &e : s.observers)
      if (t.size() == 2 || e.observer->name() == t[2].text) {
        e.observer->set_sleep_ms(static_cast<int>(ms));
        any = true;
      }
    if (!any && t.size() == 3) return script_error(line_no, "no observer named " + quoted(t[2].text));
    return Status::ok;
  }
  if (cmd == "instance") {
    if (t.size() == 2 && t[1].text == "new") return s.new_instance() ? Status::ok : Status::failed;
    char *end = nullptr;
    long n = t.size() == 2 ? std::strtol(t[1].text.c_str(), &end, 10) : 0;
    if (t.size() != 2 || *end != '\0' || n < 1 || static_cast<size_t>(n) > s.instances.size())
      return script_error(line_no, "usage: instance new | instance N (1 to " + std::to_string(s.instances.size()) + ")");
    s.current = static_cast<size_t>(n - 1);
    return Status::ok;
  }
  if (cmd == "instances") {
    emit(Record("instances").num("count", static_cast<int64_t>(s.instances.size()))
             .num("current", static_cast<int64_t>(s.current + 1)));
    return Status::ok;
  }
  if (cmd == "set") {
    if (t.size() != 3) return script_error(line_no, "usage: set VAR VALUE");
    s.variables[t[1].text] = t[2].text;
    return Status::ok;
  }
  if (cmd == "sleep") {
    long ms = t.size() == 2 ? parse_duration(t[1].text) : -1;
    if (ms < 0) return script_error(line_no, "usage: sleep MS (or with ms or s)");
    pump_events(static_cast<int>(ms));
    return Status::ok;
  }
  if (cmd == "balance") {
    emit(Record("balance").num("blocks", NS_LiveBlocks() - s.blocks_before).num("stalls", NS_ProxyStallCount()));
    return Status::ok;
  }
  if (cmd == "help") {
    help();
    return Status::ok;
  }
  if (cmd == "quit" || cmd == "exit") return Status::quit;
  if (s.component() == nullptr) return script_error(line_no, "no instance");
  return short_form(s, cmd, t, line_no);
}

}  // namespace host
