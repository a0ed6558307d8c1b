// The feeds' controller table: the controller's own functions by default,
// another table while a test or a fuzz target drives the feed handler.
#include "webapi/webapi_feed_source.h"

#include <atomic>

#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_queue.h"

namespace {

const webapi_feed_source kSource = {
    lm_dmscp_create_context,  lm_dmscp_delete_context,   lm_dmscp_go_home,       lm_dmscp_go_bookmark,
    lm_dmscp_go_directory,    lm_dmscp_get_count,        lm_dmscp_go_index,      lm_dmscp_get_metadata,
    lm_dmscp_extract_metadata, lm_dmscp_get_bookmark,    lm_dmscp_is_directory,  lm_dmrcp_create_context,
    lm_dmrcp_delete_context,  lm_dmrcp_get_count,        lm_dmrcp_go_index,      lm_dmrcp_go_bookmark,
    lm_dmrcp_get_bookmark,    lm_dmrcp_get_metadata,     lm_dmrcp_extract_metadata, lm_queue_get_count,
    lm_queue_go_index,        lm_queue_go_bookmark,      lm_queue_get_bookmark,  lm_queue_load_metadata, lm_queue_get_metadata,
    lm_queue_extract_metadata, lm_nmc_is_terminating, lm_dmscp_ioctl,
    nmc_dms_read_entry,       nmc_dms_ahead_begin,
};

// Read by every feed request, replaced only by tests between requests.
std::atomic<const webapi_feed_source *> g_source{&kSource};

}  // namespace

const webapi_feed_source *webapi_feed_source_get(void) { return g_source.load(); }
void webapi_feed_source_set(const webapi_feed_source *table) { g_source.store(table ? table : &kSource); }
