// kestrel-host: loads a component library (libkestrel64 by default) as a
// host application does and drives it from its main thread: calls of every
// slot by name, observers that record what they receive, scripts with
// expectations, JSON lines; at the end the balance of what host and
// component handed each other.
//
//   kestrel-host [OPTIONS] [LIBRARY]
//
// Without --script or -i it runs its own check of the library: both ways of
// loading, two instances each, observers added and removed.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "host_commands.h"
#include "host_output.h"
#include "host_session.h"
#include "host_terminal.h"
#include "host_web.h"
#include "host_shutdown.h"
#include "xpcom_main_thread.h"
#include "xpcom_memory.h"

namespace {

const int kExitExpectation = 1;
const int kExitScript = 2;
const int kExitLoad = 3;

struct Options {
  std::string library;
  bool by_constructor = false;
  int instances = 1;
  int observers = 1;
  std::string script;
  bool interactive = false;
  unsigned stall_ms = 5000;
  bool web = false;
  bool web_local_admin = false;
  bool terminal = false;
  std::string web_url_file;
};

void usage(FILE *to) {
  std::fprintf(to,
               "usage: kestrel-host [OPTIONS] [LIBRARY]\n"
               "  LIBRARY            component library (default: libkestrel64.so of this build)\n"
               "  --nsmodule         create through NSModule and the class's constructor\n"
               "                     (default: NSGetModule, registration, creation by contract ID)\n"
               "  --instances N      instances to create at the start (default 1)\n"
               "  --observers N      observers per list added at the start (default 1)\n"
               "  --script FILE      run the script FILE ('-': standard input); exit status 0 all\n"
               "                     expectations held, 1 one failed, 2 script error, 3 no component\n"
               "  -i                 read commands from standard input ('help' lists them)\n"
               "  --json             every event, call and result as one JSON object per line\n"
               "  --stall-ms MS      report a proxied observer call waiting longer (default 5000)\n"
               "  --web              switch the library's web API on before creating the component\n"
               "                     and print its base URL once it answers\n"
               "  --web-local-admin  with --web: log and upload commands from loopback clients only\n"
               "  --web-url-file F   with --web: also write the API's base URL into the file F\n"
               "  --terminal         the terminal mode for a person: devices listed live, browsing,\n"
               "                     playing, events in words ('help' lists the commands)\n"
               "Without --script or -i: a check of the library by both ways of loading.\n");
}

std::string default_library() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "libkestrel64.so";
  exe[n] = '\0';
  std::string dir(exe);
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../../kestrel/libkestrel64.so";
}

bool parse_int(const char *text, int lo, int hi, int &out) {
  char *end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

void report_stall(PRUint32 waited_ms, const char *what) {
  host::emit(host::Record("stall").num("waited_ms", waited_ms).str("text", what != nullptr ? what : ""));
}

// Starts instances and observers as asked; false when the component did not
// come up.
bool start(host::Session &s, const Options &o) {
  for (int k = 0; k < o.instances; ++k)
    if (!s.new_instance()) return false;
  s.current = 0;
  for (int k = 0; k < o.observers; ++k) {
    if (s.add_observer("cp") == nullptr) ++s.setup_failures;
    if (s.add_observer("renderer") == nullptr) ++s.setup_failures;
  }
  return true;
}

// Lines of a script, run in order on the main thread; stops at the first
// failure.
int run_script(host::Session &s, std::istream &in) {
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    host::Status st = host::execute(s, line, line_no);
    host::pump_events(0);
    if (st == host::Status::quit) break;
    if (st == host::Status::failed) return kExitExpectation;
    if (st == host::Status::error) return kExitScript;
  }
  return 0;
}

// Typed commands: a reader thread hands each line to the main thread's
// queue, so that observer calls and commands take turns on one thread.
host::Session *g_session = nullptr;
bool g_quit = false;

void run_line(void *arg) {
  auto *line = static_cast<std::string *>(arg);
  if (host::execute(*g_session, *line, 0) == host::Status::quit) g_quit = true;
  delete line;
}
void drop_line(void *arg) { delete static_cast<std::string *>(arg); }

void run_interactive(host::Session &s) {
  g_session = &s;
  // A line the queue refuses (the host is ending) stays the reader's to free.
  std::thread reader([] {
    std::string line;
    while (std::getline(std::cin, line)) {
      auto *copy = new std::string(line);
      if (NS_FAILED(NS_DispatchToMainThread(run_line, drop_line, copy))) {
        delete copy;
        return;
      }
    }
    auto *quit = new std::string("quit");
    if (NS_FAILED(NS_DispatchToMainThread(run_line, drop_line, quit))) delete quit;
  });
  // Blocked in a read of the terminal when the user quits: left behind.
  reader.detach();
  while (!g_quit) NS_ProcessMainThreadEvents(100);
}

// The check without a script: each way of loading, two instances,
// observers on both lists, a few slots, observers removed, instances
// released, balance.
int run_check(const Options &o) {
  int failures = 0;
  int allowed = 1;
  host::Library lib;
  for (int way = 0; way < 2; ++way) {
    host::Session s;
    s.by_constructor = way == 1;
    s.blocks_before = NS_LiveBlocks();
    s.signals_before = host::take_signal_snapshot();
    s.signals_taken = true;
    NS_InitXPCOM();
    if (way == 0) {
      std::string why;
      if (!host::open_library(o.library, lib, why)) {
        host::say("error", "the component did not load: " + why);
        NS_ShutdownXPCOM();
        return kExitLoad;
      }
      host::describe_module(lib);
    }
    lib.registered = false;  // the layer starts afresh for each way
    s.lib = lib;
    host::say("info", way == 0 ? "loading by NSGetModule, registration and contract ID"
                               : "loading by NSModule and the class's constructor");
    // The library ends once, after the second way: a control point that
    // was cleaned up does not start again in the same process.
    s.end_library = way == 1;
    if (way == 0) allowed = host::thread_count();
    s.allowed_threads = allowed;
    Options two = o;
    two.instances = 2;
    if (!start(s, two)) {
      s.finish();
      return kExitLoad;
    }
    const char *lines[] = {"call SetSlideshowInterval 5 => NS_OK", "servers", "renderers", "observers",
                           "observer remove cp1", "observer remove renderer1", "observers"};
    for (const char *line : lines)
      if (host::execute(s, line, 0) != host::Status::ok) ++failures;
    failures += s.finish();
  }
  return failures == 0 ? 0 : kExitExpectation;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  bool json = false;
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    auto value = [&](const char *name) -> const char * {
      if (k + 1 >= argc) {
        std::fprintf(stderr, "kestrel-host: %s needs a value\n", name);
        std::exit(kExitScript);
      }
      return argv[++k];
    };
    if (a == "--nsmodule") {
      o.by_constructor = true;
    } else if (a == "--instances") {
      if (!parse_int(value("--instances"), 0, 64, o.instances)) {
        std::fprintf(stderr, "kestrel-host: --instances takes 0 to 64\n");
        return kExitScript;
      }
    } else if (a == "--observers") {
      if (!parse_int(value("--observers"), 0, 64, o.observers)) {
        std::fprintf(stderr, "kestrel-host: --observers takes 0 to 64\n");
        return kExitScript;
      }
    } else if (a == "--script") {
      o.script = value("--script");
    } else if (a == "-i") {
      o.interactive = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--stall-ms") {
      int ms = 0;
      if (!parse_int(value("--stall-ms"), 1, 3600000, ms)) {
        std::fprintf(stderr, "kestrel-host: --stall-ms takes 1 to 3600000\n");
        return kExitScript;
      }
      o.stall_ms = static_cast<unsigned>(ms);
    } else if (a == "--web") {
      o.web = true;
    } else if (a == "--web-local-admin") {
      o.web_local_admin = true;
    } else if (a == "--web-url-file") {
      o.web_url_file = value("--web-url-file");
    } else if (a == "--terminal") {
      o.terminal = true;
    } else if (a == "-h" || a == "--help") {
      usage(stdout);
      return 0;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "kestrel-host: unknown option %s\n", a.c_str());
      usage(stderr);
      return kExitScript;
    } else if (o.library.empty()) {
      o.library = a;
    } else {
      std::fprintf(stderr, "kestrel-host: one library only\n");
      return kExitScript;
    }
  }
  if (o.library.empty()) o.library = default_library();
  host::set_json(json);
  NS_SetProxyStallHandler(o.stall_ms, report_stall);

  if (o.script.empty() && !o.interactive && !o.terminal) return run_check(o);
  // Before any thread of the component starts, so that none of them takes
  // a stop signal meant for the host.
  if (o.terminal) {
    host::take_stop_signals();
    // The loading steps in detail are for scripts; a person sees the
    // devices, the web API's address and errors.
    host::set_hidden_kinds({"load", "module", "registered", "instance", "call", "event"});
  }

  std::ifstream file;
  if (!o.script.empty() && o.script != "-") {
    file.open(o.script);
    if (!file) {
      host::say("error", "cannot read the script " + o.script);
      return kExitScript;
    }
  }

  host::Session s;
  s.by_constructor = o.by_constructor;
  s.end_library = true;
  // The threads of the process before the library (a sanitizer's own among
  // them); typed commands add the reader thread, which stays.
  s.allowed_threads = host::thread_count() + (o.interactive ? 1 : 0);
  s.blocks_before = NS_LiveBlocks();
  s.signals_before = host::take_signal_snapshot();
  s.signals_taken = true;
  NS_InitXPCOM();
  std::string why;
  if (!host::open_library(o.library, s.lib, why)) {
    host::say("error", "the component did not load: " + why);
    NS_ShutdownXPCOM();
    return kExitLoad;
  }
  host::describe_module(s.lib);
  if (o.web && !host::enable_web_api(s.lib, o.web_local_admin)) {
    s.finish();
    return kExitLoad;
  }
  if (!start(s, o)) {
    s.finish();
    return kExitLoad;
  }
  if (o.web) host::report_web_api(s.lib, 15000, o.web_url_file);
  int rc = 0;
  if (!o.script.empty())
    rc = run_script(s, o.script == "-" ? std::cin : file);
  else if (o.terminal)
    host::run_terminal(s, host::TerminalOptions());
  else
    run_interactive(s);
  int failures = s.finish();
  if (rc == 0 && failures != 0 && !o.script.empty()) rc = kExitExpectation;
  return rc;
}
