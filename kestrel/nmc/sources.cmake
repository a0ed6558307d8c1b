# The NMC controller core: result codes and output strings, run states,
# start-up and stop (terminator, signal watcher), controller threads with
# bounded joins, and the context numbering of both sides.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_stop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_signals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_context.cpp
)

# Devices and their notifications: the sorted device lists, event texts and
# the control point callbacks, the event dispatcher, adding and removing
# devices, keyword translation, the notification queues and both notifier
# threads, and the actions on server levels, renderer caches and queues.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_device_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_keywords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_notify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_notifier_dms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_notifier_dmr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_actions.cpp
)

# Ioctls: the lookup, the common table, the renderer notification-mode rows,
# NMC modes, network scans and switched-on features.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_ioctl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_ioctl_common.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_ioctl_dmr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_modes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_features.cpp
)

# The XML command interface: requests and responses, the command builder,
# and the commands of device lists, information, icons, subscriptions,
# scans, version and up-time; sessions and their polling.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_api_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_sessions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_api_sessions.cpp
)

# The server side: server contexts with their level stacks and page caches,
# server information and kinds, browse and search, bookmarks (well-known ones
# too), metadata, the server's XML commands, notifier actions and ioctls.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_context.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_servers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_navigate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_criteria.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_bookmark_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_bookmark.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_wellknown.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_extract.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_metadata.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_api_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_actions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_ioctl.cpp
)
