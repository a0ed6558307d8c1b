# The control point core: device table (start/stop, SSDP entry points,
# loader, events, validation, queries, URL joining, local network prefixes).
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_init.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_describe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_fetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_load.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_validate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_query.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_netprefix.cpp
)
# The SSDP entry points join the build once the recording layer of
# kestrel/ssdp leaves it; KESTREL_CP_DEV_ENTRY builds them in a private
# build in its place meanwhile.
if(KESTREL_CP_DEV_ENTRY)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/../ssdp/upnp_control_record.cpp PROPERTIES HEADER_FILE_ONLY ON)
  target_sources(kestrel_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_ssdp_entry.cpp)
endif()

# ---- SOAP actions: result codes and names, envelopes, invocation with device
# and service resolution, reading replies, and the action functions per
# service.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_errmsg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_envelope.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_invoke.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_reply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_avt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_rcs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_cds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_cds_create.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_soap_translate.cpp
)
