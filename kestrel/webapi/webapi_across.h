#ifndef KESTREL_WEBAPI_WEBAPI_ACROSS_H
#define KESTREL_WEBAPI_WEBAPI_ACROSS_H

/* The RPC commands that work across devices: "handoff" (what plays moves
 * from one renderer to another) and "search_all" (one query on every
 * server, merged and paged; "search_all_progress" follows one a page
 * runs under its token, webapi_across_progress.h). They call the controller's exported functions
 * (lm_nmc_across.h); while the dispatcher runs on a replaced controller
 * table (tests, fuzzing) they answer "not supported" unless a table of
 * their own was set, so they never start a controller there. */

#include <string>

#include "nmc/lm_nmc_across.h"
#include "webapi/webapi_internal.h"

struct webapi_across_calls {
  lm_nmc_result_t (*handoff)(const char *from, const char *to, uint32_t wait_ms, uint32_t size, char *report);
  lm_nmc_result_t (*search_all)(const char *query, uint32_t per_server_ms, lm_nmc_search_all_callback callback,
                                void *user, uint32_t *search_out);
  lm_nmc_result_t (*get_count)(uint32_t search, uint32_t *count);
  lm_nmc_result_t (*get_page)(uint32_t search, uint32_t start, uint32_t count, uint32_t size, char *buffer);
  lm_nmc_result_t (*get_servers)(uint32_t search, uint32_t size, char *buffer);
  lm_nmc_result_t (*release)(uint32_t search);
};

/* Replaces the calls (none: the controller's own, used only with the
 * controller's own table); for tests. */
void webapi_across_set(const webapi_across_calls *calls);

/* Runs the command when it is one of these (*handled set). */
int webapi_across_command(webapi_call &call, bool *handled);
/* Whether the command is one of these that only reads. */
bool webapi_across_is_read(const std::string &command);

#endif
