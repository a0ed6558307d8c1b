target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/http_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_methods.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_open.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_header_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_body.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_receive_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_talk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_mime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_mime_clientdb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_socket_watchdog.cpp
)
# The HTTP server: listening and connection threads, their pool, request
# handling, the handler list, replies, and its questions to the client database.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/http_server_socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_server_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_server_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_server_handlers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_server_reply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_server_clientdb.cpp
)
# The media stream receiver: records and their lifecycle, requests, what a
# response tells, the receiver thread, start, resume, seek and re-get, file
# streams, the ShoutCast connection and reader, and the DTCP and WMDRM hooks.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_features.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_receive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_shoutcast.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_shoutcast_read.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_protection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_stream_wmdrm.cpp
)
