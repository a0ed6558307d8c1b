// handoff and search-all on the controller's functions across devices.
#include "across_commands.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cp/upnp_soap.h"
#include "nmc/lm_nmc_across.h"

namespace {

void print_lines(const std::string &prefix, const std::string &text, void (*print)(const std::string &)) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) print(prefix + line);
}

void on_server(uint32_t, const char *, const char *name, uint32_t status, uint32_t found, uint32_t merged, void *user) {
  static const char *const names[] = {"searching", "answered", "skipped", "no answer", "failed"};
  auto print = reinterpret_cast<void (*)(const std::string &)>(user);
  print(std::string("search   ") + name + ": " + (status < 5 ? names[status] : "?") + ", " + std::to_string(found) +
        " rows (" + std::to_string(merged) + " merged)");
}

}  // namespace

bool across_command(const std::string &command, void (*print)(const std::string &line)) {
  std::istringstream words(command);
  std::string name;
  words >> name;
  if (name == "handoff") {
    std::string from, to;
    if (!(words >> from >> to)) {
      print("handoff  usage: handoff FROM TO");
      return true;
    }
    char report[1024];
    lm_nmc_result_t rc = lm_nmc_handoff(from.c_str(), to.c_str(), 0, sizeof report, report);
    print("handoff  -> " + std::to_string(rc) + " " + report);
    return true;
  }
  if (name != "search-all") return false;
  std::string query = command.substr(std::min(command.size(), name.size() + 1));
  long rows = 20;
  size_t last = query.rfind(' ');
  if (last != std::string::npos && query.find_first_not_of("0123456789", last + 1) == std::string::npos &&
      last + 1 < query.size()) {
    rows = std::atol(query.c_str() + last + 1);
    query.erase(last);
  }
  uint32_t search = 0;
  lm_nmc_result_t rc = lm_nmc_search_all(query.c_str(), 0, on_server, reinterpret_cast<void *>(print), &search);
  if (rc != 0) {
    const char *text = rc == 9 ? "no servers found yet" : upnp_get_errmsg(static_cast<int>(rc));
    print("search   " + query + " -> " + std::to_string(rc) + " " + (text != nullptr ? text : ""));
    return true;
  }
  std::string text(512 * 1024, '\0');
  if (lm_nmc_search_all_get_servers(search, static_cast<uint32_t>(text.size()), &text[0]) == 0) {
    print_lines("search   server ", text.c_str(), print);
  }
  uint32_t count = 0;
  lm_nmc_search_all_get_count(search, &count);
  print("search   " + query + " -> 0 OK " + std::to_string(count) + " rows");
  if (count > 0 && lm_nmc_search_all_get_page(search, 0, static_cast<uint32_t>(rows), static_cast<uint32_t>(text.size()),
                                              &text[0]) == 0) {
    print_lines("search   ", text.c_str(), print);
  }
  lm_nmc_search_all_release(search);
  return true;
}
