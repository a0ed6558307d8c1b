target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/webapi_errors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_params.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_reply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_guard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_controller.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_queue_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_renderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_status.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_log_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_help.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_upload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_feed.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_feed_json.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/webapi_register.cpp)
