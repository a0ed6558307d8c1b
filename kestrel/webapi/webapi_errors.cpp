// The error table of the RPC commands and its lookup.
#include "webapi/webapi_internal.h"

// The first ten and the last two entries are what callers have always
// read; the refusals of a request (-11 and below) came with the checks of
// Host, Origin, body size and client address. Code 0 ends the table.
const webapi_error_entry g_ErrorMessages[] = {
    {-1, 402, "invalid args given for this nmc rpc call"},
    {-2, 500, "error on creating a context"},
    {-3, 500, "error on deleting the context"},
    {-4, 412, "bookmark not found"},
    {-5, 501, "execution of the action failed"},
    {-6, 500, "out of memory"},
    {-7, 501, "auth token required"},
    {-8, 500, "internal error"},
    {-9, 501, "search failed"},
    {-10, 501, "upload already in progress, cannot start another"},
    {-11, 400, "bad request"},
    {-12, 413, "request body too large"},
    {-13, 401, "not allowed for this client"},
    {-14, 501, "not supported"},
    {200, 200, "ok"},
    {0, 500, "unknown error"},
};

const webapi_error_entry *webapi_find_error(int code) {
  const webapi_error_entry *entry = g_ErrorMessages;
  while (entry->code != 0 && entry->code != code) ++entry;
  return entry;
}
