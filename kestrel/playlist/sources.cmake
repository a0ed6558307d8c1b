# Playlists: the WPL store (records by handle, items, per-item cache), the WPL
# text and the playlist files.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_item.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_file.cpp
)
# The progressive download cache: the status record, the block map, the
# files, the download's stream, restarts, the reader's waits and the interface.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive_map.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive_download.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive_restart.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive_wait.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_progressive.cpp
)
# Downloads of resources for the application: a URL through the stream
# receiver to the application's callback.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_download.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_download_key.cpp
)
# Uploads into media servers: the entry points and class table, the set-up
# (CreateObject, the POST header), the transfer threads and their registry.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_upload_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_upload_setup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_upload_transfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_upload_threads.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_transfer_pool.cpp
)
# Renderer queues as WPL text: the entry points, the import, the export and
# their threads.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_wpl_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_wpl_import.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_wpl_export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_wpl_threads.cpp
)
