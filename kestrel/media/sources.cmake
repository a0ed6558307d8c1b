# The media object model: media items and item lists with their URL rules
# and video links; ZelUtil with the device-information, site-information and
# user settings files, paths and the date; the platform services under them
# (URL loading, folders, launcher) each in a file of its own.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/zel_url_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_url_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_item.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_item_xml.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_item_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_youtube_item.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_site_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_deviceinfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_siteinfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_settings_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_http.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_util_date.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_file_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_platform_url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_platform_folders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_platform_launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_device_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_control_point.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_control_point_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_server_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_server_music.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_server_version.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_renderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_renderer_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_renderer_mime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_renderer_messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_renderer_queue_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_item_playlist.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_item_playlist_save.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_item_playlist_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_server_playlists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_media_server_upload.cpp
)
target_link_libraries(kestrel_core PUBLIC ${CMAKE_DL_LIBS})

# deviceinfo.xml and siteinfo.xml ship beside the library, which finds them
# beside its own file.
foreach(resource deviceinfo.xml siteinfo.xml)
  configure_file(${CMAKE_SOURCE_DIR}/resources/${resource} ${CMAKE_BINARY_DIR}/kestrel/${resource} COPYONLY)
endforeach()
