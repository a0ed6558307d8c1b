# Logging (filter, format, write; rotation and clean-up; process exit) and the
# configuration store (table, properties, command line, ini file I/O), with
# the per-user data folder of each platform.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_log_rotate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_exit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ini_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ini_file_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ini_file_props.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ini_file_cmdline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_ini_file_io.cpp
)
if(APPLE)
  target_sources(kestrel_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform/macos/upnp_appdata_dir.cpp)
else()
  target_sources(kestrel_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform/linux/upnp_appdata_dir.cpp)
endif()

# Portability layer: critical sections, accounted memory, threads and clocks,
# sockets, upnp_string, locked lists; per-platform pieces under platform/.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_base_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_critsec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_fd.cpp
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
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_fd_${kestrel_base_platform}.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_socket_${kestrel_base_platform}.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_thread_${kestrel_base_platform}.cpp
)

# XML tree: parser, tree functions, escaping, writer, DIDL-Lite compliance.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_arena.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_compliant.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_escape.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_xml_write.cpp
)

# Resource files, the host's own addresses and the MAC lookup.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_resource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_local_addr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_mac.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform/${kestrel_base_platform}/upnp_mac_${kestrel_base_platform}.cpp
)
