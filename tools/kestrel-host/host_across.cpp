// handoff and search-all: the controller's functions across devices,
// called straight from the loaded library.
#include "host_across.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>

#include "host_output.h"

namespace host {

namespace {

using Handoff = uint32_t (*)(const char *, const char *, uint32_t, uint32_t, char *);
using SearchCallback = void (*)(uint32_t, const char *, const char *, uint32_t, uint32_t, uint32_t, void *);
using SearchAll = uint32_t (*)(const char *, uint32_t, SearchCallback, void *, uint32_t *);
using GetCount = uint32_t (*)(uint32_t, uint32_t *);
using GetPage = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, char *);
using GetServers = uint32_t (*)(uint32_t, uint32_t, char *);
using Release = uint32_t (*)(uint32_t);

template <typename Fn>
Fn find(const Session &s, const char *name) {
  Fn fn = s.lib.handle != nullptr ? reinterpret_cast<Fn>(dlsym(s.lib.handle, name)) : nullptr;
  if (fn == nullptr) say("error", std::string("the library has no ") + name);
  return fn;
}

const char *status_name(uint32_t status) {
  static const char *const names[] = {"searching", "answered", "skipped", "no answer", "failed"};
  return status < 5 ? names[status] : "unknown";
}

// Runs on the library's search threads, one call at a time.
void on_server(uint32_t, const char *udn, const char *name, uint32_t status, uint32_t found, uint32_t merged, void *) {
  emit(Record("search-server").str("name", name != nullptr ? name : "").str("udn", udn != nullptr ? udn : "")
           .str("status", status_name(status)).num("rows", found).num("merged", merged));
}

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + 1) {
    parts.push_back(text.substr(at, next - at));
  }
  parts.push_back(text.substr(at));
  return parts;
}

Status handoff(Session &s, const std::vector<std::string> &w) {
  auto fn = find<Handoff>(s, "lm_nmc_handoff");
  if (fn == nullptr) return Status::error;
  char report[1024];
  uint32_t code = fn(w[0].c_str(), w[1].c_str(), 0, sizeof report, report);
  emit(Record("handoff").boolean("ok", code == 0).num("code", code).str("report", report));
  return Status::ok;
}

Status search_all(Session &s, const std::vector<std::string> &w, int line_no) {
  long rows = 20;
  if (w.size() == 2) {
    char *end = nullptr;
    rows = std::strtol(w[1].c_str(), &end, 10);
    if (*end != '\0' || rows < 1 || rows > 500) {
      say("error", (line_no > 0 ? "line " + std::to_string(line_no) + ": " : std::string()) +
                       "usage: search-all QUERY [ROWS 1..500]");
      return Status::error;
    }
  }
  auto run = find<SearchAll>(s, "lm_nmc_search_all");
  auto count = find<GetCount>(s, "lm_nmc_search_all_get_count");
  auto page = find<GetPage>(s, "lm_nmc_search_all_get_page");
  auto servers = find<GetServers>(s, "lm_nmc_search_all_get_servers");
  auto release = find<Release>(s, "lm_nmc_search_all_release");
  if (!run || !count || !page || !servers || !release) return Status::error;
  uint32_t search = 0;
  uint32_t code = run(w[0].c_str(), 0, on_server, nullptr, &search);
  if (code == 9) {
    say("info", "search-all: no servers found yet");
    return Status::ok;
  }
  if (code != 0) {
    say("error", "search-all failed: " + std::string(code == 22 ? "too many searches at once" : "error " + std::to_string(code)));
    return Status::ok;
  }
  std::string text(64 * 1024, '\0');
  if (servers(search, static_cast<uint32_t>(text.size()), &text[0]) == 0) {
    for (const std::string &line : split(text.c_str(), '\n')) {
      std::vector<std::string> f = split(line, '\t');
      if (f.size() < 5) continue;
      Record r("search-server-result");
      r.str("name", f[1]).str("status", f[2]).num("rows", std::atoll(f[3].c_str()));
      if (!f[4].empty()) r.str("why", f[4]);
      emit(r);
    }
  }
  uint32_t total = 0;
  count(search, &total);
  emit(Record("search-all").str("query", w[0]).num("rows", total));
  std::string lines(512 * 1024, '\0');
  if (total > 0 && page(search, 0, static_cast<uint32_t>(rows), static_cast<uint32_t>(lines.size()), &lines[0]) == 0) {
    for (const std::string &line : split(lines.c_str(), '\n')) {
      std::vector<std::string> f = split(line, '\t');
      if (f.size() < 5) continue;
      emit(Record("search-row").num("index", std::atoll(f[0].c_str())).str("title", f[1]).str("class", f[2])
               .str("server", f[3]).str("bookmark", f[4]));
    }
  }
  release(search);
  return Status::ok;
}

}  // namespace

Status across_command(Session &s, const std::string &form, const std::vector<std::string> &words, int line_no,
                      bool *handled) {
  *handled = form == "handoff" || form == "search-all";
  if (!*handled) return Status::ok;
  const bool is_handoff = form == "handoff";
  if (is_handoff ? words.size() != 2 : (words.empty() || words.size() > 2)) {
    say("error", (line_no > 0 ? "line " + std::to_string(line_no) + ": " : std::string()) + "usage: " +
                     (is_handoff ? "handoff FROM TO" : "search-all QUERY [ROWS]"));
    return Status::error;
  }
  return is_handoff ? handoff(s, words) : search_all(s, words, line_no);
}

}  // namespace host
