# SSDP discovery and the per-interface network runtime: interface table,
# start/stop with generations, listen threads, M-SEARCH receiver and sender,
# handler table and the control point's handler.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_handlers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_interfaces.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_ifaddrs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_listen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_sender.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ssdp_cp_handler.cpp
)
