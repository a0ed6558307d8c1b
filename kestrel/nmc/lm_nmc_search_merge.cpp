// The merged result of a search across servers: rows in arrival order,
// pages over them and the servers' statuses as text.
#include "nmc/lm_nmc_search_merge.h"

#include <algorithm>

#include "nmc/lm_nmc_across.h"

const char *nmc_search_status_name(uint32_t status) {
  switch (status) {
    case LM_NMC_SEARCH_ALL_ANSWERED: return "answered";
    case LM_NMC_SEARCH_ALL_SKIPPED: return "skipped";
    case LM_NMC_SEARCH_ALL_TIMED_OUT: return "no answer";
    case LM_NMC_SEARCH_ALL_FAILED: return "failed";
    default: return "searching";
  }
}

std::string nmc_search_field(const std::string &text) {
  std::string out = text;
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return out;
}

size_t nmc_search_merge::add_server(const std::string &udn, const std::string &name) {
  std::lock_guard<std::mutex> hold(lock_);
  nmc_search_server server;
  server.udn = udn;
  server.name = name;
  servers_.push_back(server);
  return servers_.size() - 1;
}

uint32_t nmc_search_merge::add_rows(size_t index, std::vector<nmc_search_row> rows) {
  std::lock_guard<std::mutex> hold(lock_);
  if (index >= servers_.size()) return 0;
  nmc_search_server &server = servers_[index];
  if (server.status != LM_NMC_SEARCH_ALL_PENDING) return server.rows;
  for (nmc_search_row &row : rows) {
    if (server.rows >= LM_NMC_SEARCH_ALL_MAX_PER_SERVER) break;
    rows_.push_back(std::move(row));
    row_server_.push_back(index);
    ++server.rows;
  }
  changed_.notify_all();
  return server.rows;
}

bool nmc_search_merge::finish(size_t index, uint32_t status, const std::string &words) {
  std::lock_guard<std::mutex> hold(lock_);
  if (index >= servers_.size() || servers_[index].status != LM_NMC_SEARCH_ALL_PENDING) return false;
  servers_[index].status = status;
  servers_[index].words = words;
  changed_.notify_all();
  return true;
}

std::vector<size_t> nmc_search_merge::expire(uint32_t bound_ms, const char *words) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<size_t> expired;
  for (size_t i = 0; i < servers_.size(); ++i) {
    if (servers_[i].status != LM_NMC_SEARCH_ALL_PENDING) continue;
    servers_[i].status = LM_NMC_SEARCH_ALL_TIMED_OUT;
    servers_[i].words = words != nullptr ? words : "no answer within " + std::to_string(bound_ms) + " ms";
    expired.push_back(i);
  }
  return expired;
}

bool nmc_search_merge::all_final() const {
  return std::none_of(servers_.begin(), servers_.end(),
                      [](const nmc_search_server &s) { return s.status == LM_NMC_SEARCH_ALL_PENDING; });
}

bool nmc_search_merge::wait_final(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_until(hold, deadline, [this] { return all_final(); });
}

uint32_t nmc_search_merge::count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<uint32_t>(rows_.size());
}

nmc_search_server nmc_search_merge::server(size_t index) const {
  std::lock_guard<std::mutex> hold(lock_);
  return index < servers_.size() ? servers_[index] : nmc_search_server();
}

lm_nmc_result_t nmc_search_merge::page(uint32_t start, uint32_t count, std::string *text) const {
  std::lock_guard<std::mutex> hold(lock_);
  text->clear();
  if (start > rows_.size() || (start == rows_.size() && start != 0)) return LM_NMC_NOT_FOUND;
  size_t end = rows_.size();
  if (count != 0) end = std::min<size_t>(end, static_cast<size_t>(start) + count);
  for (size_t i = start; i < end; ++i) {
    const nmc_search_row &row = rows_[i];
    *text += std::to_string(i) + "\t" + nmc_search_field(row.title) + "\t" + nmc_search_field(row.upnp_class) +
             "\t" + nmc_search_field(servers_[row_server_[i]].name) + "\t" + nmc_search_field(row.bookmark) + "\n";
  }
  return LM_NMC_OK;
}

std::string nmc_search_merge::servers_text() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::string text;
  for (const nmc_search_server &s : servers_) {
    text += nmc_search_field(s.udn) + "\t" + nmc_search_field(s.name) + "\t" + nmc_search_status_name(s.status) +
            "\t" + std::to_string(s.rows) + "\t" + nmc_search_field(s.words) + "\n";
  }
  return text;
}
