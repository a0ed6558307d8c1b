# Client recognition database: "clients.db" reader, recognition by headers,
# descriptions and browse parameters, the known-clients list and its
# "clients.data" file, valued lookups, views and quirk flags.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_init.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_mime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_views.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_quirks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_clients.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_recognize.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_client_db_ssdp.cpp
)
