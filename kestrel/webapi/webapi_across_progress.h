#ifndef KESTREL_WEBAPI_WEBAPI_ACROSS_PROGRESS_H
#define KESTREL_WEBAPI_WEBAPI_ACROSS_PROGRESS_H

/* Merged searches a page follows by a token of its own ("progress" of
 * "search_all"): while the search runs, the servers that answered of how
 * many and the rows merged so far, read by "search_all_progress"; once it
 * ended, the merged result stays held for the token so that the pages after
 * the first read the same rows instead of searching again. At most
 * WEBAPI_PROGRESS_HELD tokens are kept; a new one releases the oldest's
 * search. Every function is safe from any request thread. */

#include <cstdint>
#include <string>

struct webapi_across_calls;

#define WEBAPI_PROGRESS_HELD 4u

/* What a running search's callback needs to find its token again. */
struct webapi_progress_ticket {
  std::string token;
  uint64_t generation = 0;
  const webapi_across_calls *calls = nullptr;
};

/* Whether the text can be a token: 1 to 32 letters, digits, "-" or "_". */
bool webapi_progress_token_valid(const std::string &token);

/* The held search of the token when it ran this query and ended; 0 when
 * the query has to run. */
uint32_t webapi_progress_reuse(const std::string &token, const std::string &query);

/* A search under the token starts (any earlier one under it is released). */
webapi_progress_ticket webapi_progress_begin(const std::string &token, const std::string &query,
                                             const webapi_across_calls *calls);

/* The controller's callback for lm_nmc_search_all; user is the ticket. */
void webapi_progress_callback(uint32_t search, const char *udn, const char *name, uint32_t status, uint32_t found,
                              uint32_t merged, void *user);

/* The search ended as search (0: it failed). Answers whether the token now
 * holds it; when not (the token was taken over meanwhile) the caller
 * releases it. */
bool webapi_progress_finish(const webapi_progress_ticket &ticket, uint32_t search);

/* "searching\tANSWERED\tSERVERS\tROWS", "done\t..." or "failed\t..."; empty
 * for a token that names no search. */
std::string webapi_progress_text(const std::string &token);

/* Releases every held search and forgets every token. */
void webapi_progress_clear();

#endif
