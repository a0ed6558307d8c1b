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
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_ssdp_entry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_metadata_url.cpp
)

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

# ---- Resource selection: protocolInfo texts, renderer lists, matching and
# choosing the res a renderer plays best, can-play answers.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_res_pi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_res_extra.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_res_match.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_res_choose.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_res_scale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_res_object.cpp
)

# ---- Handing objects to renderers: proxy base URLs and proxied URLs, the
# metadata adaptations and reduction, and SetAVTransportURI sending.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_proxy_base.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_proxy_url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_proxy_sites.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_metadata_fix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_metadata_reduce.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_metadata_proxy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_avt_uri.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_avt_uri_best.cpp
)

# ---- Event subscription: GENA exchanges, subscription of the table's
# services with their threads and renewal, the NOTIFY handler, the event
# queue, renderer polling and the event text readers.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_subscribe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_subscribe_service.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_subscribe_threads.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_eventing_parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_eventing_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_notifier_wake.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_eventing_notify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_eventing_poll.cpp
)

# Percent and relative byte seeks of renderers, the res a renderer plays.
target_sources(kestrel_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/upnp_cp_seek.cpp
)
