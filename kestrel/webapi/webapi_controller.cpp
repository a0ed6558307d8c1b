// The controller table: the controller's own functions by default, another
// table while a test or the fuzz target drives the dispatcher.
#include "webapi/webapi_controller.h"

#include <atomic>

#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmscp.h"
#include "webapi/webapi_queue_link.h"

namespace {

const webapi_controller kController = {
    lm_dmrcp_create_context,
    lm_dmrcp_delete_context,
    lm_dmrcp_go_bookmark,
    lm_dmrcp_go_index,
    lm_dmrcp_ioctl,
    lm_dmrcp_get_mute,
    lm_dmrcp_set_mute,
    lm_dmrcp_pause,
    lm_dmrcp_play,
    lm_dmrcp_stop,
    lm_dmrcp_get_seek_capabilities,
    lm_dmrcp_seek_percent,
    lm_dmrcp_seek_bytes,
    lm_dmrcp_seek_time,
    lm_dmrcp_get_state,
    lm_dmrcp_get_volume_percent,
    lm_dmrcp_set_volume_percent,
    lm_dmrcp_get_volume_db,
    lm_dmrcp_set_volume_db,
    lm_dmrcp_get_volume_db_range,
    lm_nmc_ioctl,
    webapi_queue_get_playindex,
    webapi_queue_go_index,
    webapi_queue_add_bookmark,
    webapi_queue_add_metadata,
    webapi_queue_delete_item,
    webapi_queue_move_to,
    webapi_queue_clear,
    lm_dmscp_create_context,
    lm_dmscp_delete_context,
    lm_dmscp_go_bookmark,
    lm_dmscp_search,
    lm_dmscp_get_count,
    lm_dmscp_go_index,
    lm_dmscp_get_metadata,
    lm_dmscp_extract_metadata,
    lm_dmscp_get_bookmark,
    lm_nmc_is_terminating,
};

// Read by every request thread, replaced only by tests between requests.
std::atomic<const webapi_controller *> g_table{&kController};

}  // namespace

const webapi_controller *webapi_controller_get(void) { return g_table.load(); }
void webapi_controller_set(const webapi_controller *table) { g_table.store(table ? table : &kController); }
const webapi_controller *webapi_controller_default(void) { return &kController; }
