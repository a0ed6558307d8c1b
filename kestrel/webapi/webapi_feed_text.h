#ifndef KESTREL_WEBAPI_WEBAPI_FEED_TEXT_H
#define KESTREL_WEBAPI_WEBAPI_FEED_TEXT_H

/* The texts of a feed entry read through the controller's calls that fill a
 * buffer of a given size: the buffer grows while a call answers that it is
 * too small, so a long title or a large metadata text is listed whole
 * instead of ending the page short of the count its header gives. */

#include <stdint.h>

#include <functional>
#include <vector>

#include "nmc/lm_nmc.h"

/* The most a feed takes of one entry's metadata, and of a title or bookmark. */
#define WEBAPI_FEED_METADATA_MOST (1u << 20)
#define WEBAPI_FEED_TEXT_MOST (64u << 10)

/* Calls `call` with the buffer, from `first` bytes up to `most`, doubling
 * while it answers LM_NMC_BUFFER_TOO_SMALL; the buffer then holds the text
 * and its zero. Answers the call's last result. */
lm_nmc_result_t webapi_feed_read_text(const std::function<lm_nmc_result_t(uint32_t size, char *buffer)> &call,
                                      uint32_t first, uint32_t most, std::vector<char> *buffer);

#endif
