# Playlists: the WPL store (records by handle, items, per-item cache), the WPL
# text and the playlist files.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_item.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_wpl_file.cpp
)
