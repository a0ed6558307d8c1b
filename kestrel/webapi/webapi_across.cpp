// The RPC commands "handoff" and "search_all" over the controller's
// functions across devices. Failures answer with the controller's words
// (what failed and why), never with a bare number.
#include "webapi/webapi_across.h"

#include <atomic>
#include <vector>

#include "webapi/webapi_across_progress.h"
#include "webapi/webapi_controller.h"

namespace {

const webapi_across_calls kController = {lm_nmc_handoff,           lm_nmc_search_all,
                                         lm_nmc_search_all_get_count, lm_nmc_search_all_get_page,
                                         lm_nmc_search_all_get_servers, lm_nmc_search_all_release};

// Set by tests before requests run, read by request threads.
std::atomic<const webapi_across_calls *> g_calls{nullptr};

// The calls to use; none while a replaced controller table is in use and
// no calls of their own were set.
const webapi_across_calls *calls() {
  const webapi_across_calls *set = g_calls.load();
  if (set != nullptr) return set;
  return webapi_controller_get() == webapi_controller_default() ? &kController : nullptr;
}

const char kText[] = "text/plain; charset=utf-8";
const char kScript[] = "application/javascript; charset=utf-8";

// A failure told in words with the status of "execution of the action
// failed" (501), or 412 when a device was not found.
int send_words(webapi_call &call, int status, const std::string &words) {
  if (call.callback_valid) {
    return webapi_send_body(call, status, kScript, call.callback + "(\"" + webapi_js_escape(words) + "\");");
  }
  return webapi_send_body(call, status, kText, words);
}

int cmd_handoff(webapi_call &call, const webapi_across_calls &c) {
  std::string from;
  std::string to;
  if (!get_param(call, "from", &from) || !get_param(call, "to", &to) || from.empty() || to.empty()) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  int64_t wait = 0;
  if (get_param(call, "wait", nullptr) && !webapi_number(call, "wait", 0, 120000, &wait)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  std::vector<char> report(1024);
  lm_nmc_result_t r = c.handoff(from.c_str(), to.c_str(), static_cast<uint32_t>(wait),
                                static_cast<uint32_t>(report.size()), report.data());
  if (r == LM_NMC_OK) return send_valid(call, report.data());
  std::string words = report[0] != '\0' ? report.data() : "handoff failed: error " + std::to_string(r);
  return send_words(call, r == 3 || r == LM_NMC_NOT_FOUND ? 412 : 501, words);
}

// Runs the query, or with a progress token whose search of the same query
// ended already, takes that one (*kept: the token holds the search, which
// is then not released here).
lm_nmc_result_t run_search(const webapi_across_calls &c, const std::string &query, const std::string &token,
                           uint32_t timeout, uint32_t *search, bool *kept) {
  *kept = false;
  if (token.empty()) return c.search_all(query.c_str(), timeout, nullptr, nullptr, search);
  uint32_t held = webapi_progress_reuse(token, query);
  uint32_t count = 0;
  if (held != 0 && c.get_count(held, &count) == LM_NMC_OK) {
    *search = held;
    *kept = true;
    return LM_NMC_OK;
  }
  webapi_progress_ticket ticket = webapi_progress_begin(token, query, &c);
  lm_nmc_result_t r = c.search_all(query.c_str(), timeout, webapi_progress_callback, &ticket, search);
  *kept = webapi_progress_finish(ticket, r == LM_NMC_OK ? *search : 0);
  return r;
}

// With progress=TOKEN (a search_all given the same): "STATE\tANSWERED\t
// SERVERS\tROWS", STATE "searching", "done" or "failed".
int cmd_search_all_progress(webapi_call &call) {
  std::string token;
  if (!get_param(call, "progress", &token) || !webapi_progress_token_valid(token)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  std::string text = webapi_progress_text(token);
  if (text.empty()) return send_words(call, 412, "no search runs under this progress token");
  return send_valid(call, text.c_str());
}

// "N\n" (rows merged), then "server\tUDN\tNAME\tSTATUS\tROWS\tWORDS\n" per
// server, then "item\tINDEX\tTITLE\tCLASS\tSERVER\tBOOKMARK\n" per row of the
// page.
int cmd_search_all(webapi_call &call, const webapi_across_calls &c) {
  std::string query;
  if (!get_param(call, "query", &query) || query.empty()) return send_error_message(call, WEBAPI_INVALID_ARGS);
  int64_t start = 0;
  int64_t count = 50;
  int64_t timeout = 0;
  if ((get_param(call, "start", nullptr) && !webapi_number(call, "start", 0, UINT32_MAX, &start)) ||
      (get_param(call, "count", nullptr) && !webapi_number(call, "count", 0, 200, &count)) ||
      (get_param(call, "timeout", nullptr) && !webapi_number(call, "timeout", 0, 60000, &timeout))) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  std::string token;
  if (get_param(call, "progress", &token) && !webapi_progress_token_valid(token)) {
    return send_error_message(call, WEBAPI_INVALID_ARGS);
  }
  uint32_t search = 0;
  bool kept = false;
  uint32_t total = 0;
  lm_nmc_result_t r = run_search(c, query, token, static_cast<uint32_t>(timeout), &search, &kept);
  if (r == LM_NMC_NOT_FOUND) return send_words(call, 501, "search failed: no servers found yet");
  if (r == LM_NMC_NO_FREE_CONTEXT) return send_words(call, 501, "search failed: too many searches at once");
  if (r != LM_NMC_OK) return send_words(call, 501, "search failed: error " + std::to_string(r));
  c.get_count(search, &total);
  std::string servers(64 * 1024, '\0');
  std::string page(512 * 1024, '\0');
  lm_nmc_result_t servers_r = c.get_servers(search, static_cast<uint32_t>(servers.size()), &servers[0]);
  lm_nmc_result_t page_r = total == 0 ? LM_NMC_OK
                                      : c.get_page(search, static_cast<uint32_t>(start), static_cast<uint32_t>(count),
                                                   static_cast<uint32_t>(page.size()), &page[0]);
  if (!kept) c.release(search);
  if (servers_r != LM_NMC_OK) return send_error_message(call, WEBAPI_INTERNAL);
  if (page_r == LM_NMC_NOT_FOUND) page[0] = '\0';  // a start beyond the rows: an empty page
  else if (page_r != LM_NMC_OK) return send_error_message(call, WEBAPI_INTERNAL);
  std::string body = std::to_string(total) + "\n";
  auto prefixed = [&body](const char *kind, const char *lines) {
    for (const char *p = lines; *p != '\0';) {
      const char *end = p;
      while (*end != '\0' && *end != '\n') ++end;
      body += std::string(kind) + "\t" + std::string(p, end) + "\n";
      p = *end == '\n' ? end + 1 : end;
    }
  };
  prefixed("server", servers.c_str());
  prefixed("item", page.c_str());
  return send_valid(call, body.c_str());
}

}  // namespace

void webapi_across_set(const webapi_across_calls *calls) { g_calls.store(calls); }

bool webapi_across_is_read(const std::string &command) {
  return command == "search_all" || command == "search_all_progress";
}

int webapi_across_command(webapi_call &call, bool *handled) {
  *handled = call.command == "handoff" || call.command == "search_all" || call.command == "search_all_progress";
  if (!*handled) return 0;
  const webapi_across_calls *c = calls();
  if (c == nullptr) return send_error_message(call, WEBAPI_NOT_SUPPORTED);
  if (call.command == "search_all_progress") return cmd_search_all_progress(call);
  return call.command == "handoff" ? cmd_handoff(call, *c) : cmd_search_all(call, *c);
}
