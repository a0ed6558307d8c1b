target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_log.cpp
)

# Portability layer: critical sections, accounted memory, threads and clocks,
# sockets, upnp_string, locked lists; per-platform pieces under platform/.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_base_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_critsec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_mem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_server_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_string.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_thread.cpp
)
if(APPLE)
  set(kestrel_base_platform macos)
else()
  set(kestrel_base_platform linux)
endif()
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_critsec_${kestrel_base_platform}.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_socket_${kestrel_base_platform}.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_thread_${kestrel_base_platform}.cpp
)

# XML tree: parser, tree functions, escaping, writer, DIDL-Lite compliance.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_compliant.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_escape.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_write.cpp
)
