target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_log.cpp
)
