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
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_protection.cpp
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
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_ruis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_device_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_keywords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_notify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_notifier_dms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_notifier_dmr.cpp
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

# The renderer control point: renderer contexts as cursors over the renderer
# list, running renderer commands, the transport and rendering commands of
# the XML interface, the renderer functions (state, transport, rendering,
# play), renderer metadata and properties, and the renderer's own ioctl rows.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_context.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_reply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_api_transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_api_rendering.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_play.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_metadata.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_ioctl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmrcp_sink.cpp
)

# The local renderers: hook tables, enabling and names, the operations routed
# to the hooks, the host's events, the icon loader, and the record of what
# the library's own renderer devices are handed.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_ldmr_hooks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_ldmr_ops.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_ldmr_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_ldmr_icons.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_ldmr_device.cpp
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
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_entry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_ahead.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_api_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_actions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_dmscp_ioctl.cpp
)

# Renderer queues: the shared list, entries and play modes, queue events,
# playing on the renderer, renderer state events and position polls (the
# "DMR Position Polling" worker), the slideshow timer, the XML queue
# commands, the links with the renderer commands, and the lm_queue_ API.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_entries.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_renderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_play.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_worker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_slideshow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_links.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_queue_share.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_queue_api.cpp
)

# Work across devices: the handoff of what plays from one renderer to
# another (its queue side apart), and one search across every server with
# its merged, paged result.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_handoff_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_handoff.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_search_merge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_search_all.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lm_nmc_cancel.cpp
)
