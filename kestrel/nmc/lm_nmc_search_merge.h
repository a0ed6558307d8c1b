#ifndef KESTREL_NMC_LM_NMC_SEARCH_MERGE_H
#define KESTREL_NMC_LM_NMC_SEARCH_MERGE_H

/* The merged result of one search across servers: the servers in list
 * order with their status, and the rows in the order they arrived. Rows
 * only ever append, so a page read earlier keeps its rows while servers
 * still answer. Worker threads add rows and statuses while the caller
 * reads pages; one lock guards all of it, and waiting for the servers to
 * finish sleeps on a condition of that lock. */

#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "nmc/lm_nmc.h"

struct nmc_search_row {
  std::string title;
  std::string upnp_class;
  std::string bookmark;
};

struct nmc_search_server {
  std::string udn;
  std::string name;
  uint32_t status = 0;  // LM_NMC_SEARCH_ALL_...
  uint32_t rows = 0;    // rows merged from this server
  std::string words;    // why it was skipped, timed out or failed
};

class nmc_search_merge {
 public:
  /* A server in list order; its number for the calls below. */
  size_t add_server(const std::string &udn, const std::string &name);
  /* Appends a server's rows unless its status is final already (a server
   * past its bound adds nothing); rows above the per-server bound are
   * dropped. The rows merged from it afterwards. */
  uint32_t add_rows(size_t server, std::vector<nmc_search_row> rows);
  /* Sets a server's final status once; false when it had one already. */
  bool finish(size_t server, uint32_t status, const std::string &words);
  /* Marks every server still searching as timed out ("no answer within N
   * ms", or the words given); their numbers. */
  std::vector<size_t> expire(uint32_t bound_ms, const char *words = nullptr);
  /* Sleeps until every server has a final status or the deadline passed;
   * true when all are final. */
  bool wait_final(std::chrono::steady_clock::time_point deadline);

  uint32_t count() const;
  nmc_search_server server(size_t index) const;
  /* Rows start .. start+count-1 (count 0: to the end) as lines; 9 when
   * start is beyond the rows (start 0 of none is an empty page). */
  lm_nmc_result_t page(uint32_t start, uint32_t count, std::string *text) const;
  std::string servers_text() const;

 private:
  bool all_final() const;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<nmc_search_server> servers_;
  std::vector<nmc_search_row> rows_;
  std::vector<size_t> row_server_;  // the server of each row
};

/* "answered", "skipped", "no answer", "failed", "searching". */
const char *nmc_search_status_name(uint32_t status);
/* A text on one line of a tab-separated table: tabs and line ends read as
 * blanks. */
std::string nmc_search_field(const std::string &text);

#endif
