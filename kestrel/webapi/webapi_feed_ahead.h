#ifndef KESTREL_WEBAPI_WEBAPI_FEED_AHEAD_H
#define KESTREL_WEBAPI_WEBAPI_FEED_AHEAD_H

/* The feeds' read-ahead thread: while a container's page is written and
 * sent, the next page of the walk is requested from its server, so that
 * walking a container page by page costs about one Browse per page, not one
 * Browse plus the writing. */

#include <memory>

struct nmc_dms_ahead;

/* Queues a page to read (the thread starts on first use). Past a few
 * queued pages the oldest is cancelled; while the feeds stop, the page is
 * cancelled at once. Answers whether there was a page. */
bool webapi_feed_ahead_post(std::shared_ptr<nmc_dms_ahead> ahead);
/* Cancels the queued pages and ends the thread (a page request under way
 * is waited for within the stop's bound); a later post starts it again. */
void webapi_feed_ahead_stop(void);

#endif
