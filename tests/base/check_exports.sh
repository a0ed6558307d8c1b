#!/usr/bin/env bash
# Fails when libkestrel64.so exports a symbol that is not on the allow-list:
# the library's only public entry points are what the host application calls.
# Usage: check_exports.sh <path to libkestrel64.so>
set -euo pipefail
lib=${1:?shared object}

# The public API. Add a name here only together with its KESTREL_API mark.
allowed=(
  NSGetModule
  # The component's module description and the host's exit function.
  NSModule register_upnp_exit_function
  # The host's clean end before it unloads the library (kestrel/xpcom/zel_xpcom_shutdown.cpp).
  ZelControlPoint2XPComShutdown
  # The NMC controller (kestrel/nmc/lm_nmc.h).
  lm_nmc_init lm_nmc_conn_init lm_nmc_stop lm_nmc_register_state_callback lm_nmc_is_terminating
  lm_nmc_set_appdata_path lm_nmc_is_dms_context lm_nmc_is_dmr_context
  lm_dmscp_create_context lm_dmscp_delete_context lm_dmscp_register_callback
  lm_dmrcp_create_context lm_dmrcp_delete_context lm_dmrcp_register_callback
  lm_queue_register_callback lm_nmc_register_api_callback lm_nmc_ioctl lm_dmscp_ioctl lm_dmrcp_ioctl
  lm_nmc_api_query lm_nmc_api_query_string
  # Server contexts (kestrel/nmc/lm_dmscp.h).
  lm_dmscp_go_home lm_dmscp_go_index lm_dmscp_get_index lm_dmscp_get_count lm_dmscp_is_directory
  lm_dmscp_go_directory lm_dmscp_go_parent lm_dmscp_get_level lm_dmscp_get_levelname lm_dmscp_search
  lm_dmscp_set_sort_option lm_dmscp_get_sort_capabilities lm_dmscp_get_search_capabilities
  lm_dmscp_get_device_info lm_dmscp_get_bookmark lm_dmscp_get_temp_bookmark lm_dmscp_go_bookmark
  lm_dmscp_get_metadata lm_dmscp_extract_metadata lm_dmscp_extract_metadata_int lm_dmscp_extract_metadata_uint64
  lm_dmscp_load_metadata lm_dmscp_set_metadata lm_dmscp_delete_object
  # Renderer contexts (kestrel/nmc/lm_dmrcp.h).
  lm_dmrcp_extract_metadata lm_dmrcp_extract_metadata_int lm_dmrcp_extract_metadata_uint64 lm_dmrcp_get_bookmark
  lm_dmrcp_get_count lm_dmrcp_get_current_transport_actions lm_dmrcp_get_device_info lm_dmrcp_get_index
  lm_dmrcp_get_metadata lm_dmrcp_get_mute lm_dmrcp_get_seek_capabilities lm_dmrcp_get_state lm_dmrcp_get_volume_db
  lm_dmrcp_get_volume_db_range lm_dmrcp_get_volume_percent lm_dmrcp_go_bookmark lm_dmrcp_go_index lm_dmrcp_pause
  lm_dmrcp_play lm_dmrcp_seek_bytes lm_dmrcp_seek_percent lm_dmrcp_seek_time lm_dmrcp_set_metadata lm_dmrcp_set_mute
  lm_dmrcp_set_volume_db lm_dmrcp_set_volume_percent lm_dmrcp_stop
  # Local renderers (kestrel/nmc/lm_ldmr.h).
  lm_ldmr_clear_hooks lm_ldmr_enable lm_ldmr_event_available_actions lm_ldmr_event_available_actions_bitfield
  lm_ldmr_event_brightness lm_ldmr_event_contrast lm_ldmr_event_duration lm_ldmr_event_loudness lm_ldmr_event_mute
  lm_ldmr_event_next_playinfo lm_ldmr_event_playinfo lm_ldmr_event_state lm_ldmr_event_status lm_ldmr_event_volume
  lm_ldmr_get_name lm_ldmr_img_clear_hooks lm_ldmr_img_enable lm_ldmr_img_event_available_actions
  lm_ldmr_img_event_next_playinfo lm_ldmr_img_event_playinfo lm_ldmr_img_event_state lm_ldmr_img_event_status
  lm_ldmr_img_get_name lm_ldmr_img_is_enabled lm_ldmr_img_set_hooks lm_ldmr_img_set_name lm_ldmr_is_enabled
  lm_ldmr_register_event_listener lm_ldmr_set_hooks lm_ldmr_set_name lm_ldmr_updated
  # Uploads (kestrel/playlist/lm_dmscp_upload.h).
  lm_dmscp_upload lm_dmscp_upload_with_metadata lm_dmscp_upload_playlist
  # Renderer queues (kestrel/nmc/lm_queue.h).
  lm_queue_get_count lm_queue_get_index lm_queue_go_index lm_queue_get_playindex lm_queue_add_bookmark
  lm_queue_add_metadata lm_queue_delete_item lm_queue_move_to lm_queue_clear lm_queue_get_bookmark
  lm_queue_go_bookmark lm_queue_get_metadata lm_queue_extract_metadata lm_queue_extract_metadata_int
  lm_queue_extract_metadata_uint64 lm_queue_load_metadata
  # Downloads (kestrel/playlist/lm_nmc_download.h).
  lm_nmc_download_uri
  lm_nmc_download lm_dmscp_download lm_dmrcp_download lm_queue_download
  # Renderer queues as WPL text (kestrel/playlist/lm_dmrcp_wpl.h).
  lm_dmrcp_import_queue lm_dmrcp_export_queue
  # The web API (kestrel/webapi/lm_nmc_webapi.h).
  lm_nmc_enable_web_api lm_nmc_web_api_base_url lm_nmc_web_api_set_local_admin lm_nmc_web_api_set_max_upload_mb
  # Handoff and search across servers (kestrel/nmc/lm_nmc_across.h).
  lm_nmc_handoff lm_nmc_search_all lm_nmc_search_all_get_count lm_nmc_search_all_get_page
  lm_nmc_search_all_get_servers lm_nmc_search_all_release
  lm_nmc_cancel_create lm_nmc_cancel_set lm_nmc_cancel_delete lm_nmc_handoff_cancellable lm_nmc_search_all_cancellable
)
# What the toolchain itself puts into every shared object.
toolchain=(_init _fini __bss_start _edata _end __end__ __data_start _IO_stdin_used
           __start___sancov_cntrs __stop___sancov_cntrs __start___sancov_pcs __stop___sancov_pcs)

# Instrumented builds (UBSan) emit weak type descriptions for every function
# type they check; only there are those tolerated.
instrumented=0
if nm -D --undefined-only "$lib" | grep -q -E '__(ubsan|asan|tsan)_'; then instrumented=1; fi

bad=0
count=0
while read -r _ type sym; do
  [ -n "${sym:-}" ] || continue
  sym=${sym%%@*}
  count=$((count + 1))
  ok=0
  for a in "${allowed[@]}" "${toolchain[@]}"; do
    if [ "$sym" = "$a" ]; then ok=1; break; fi
  done
  # Sanitizer runtimes (instrumented builds) export their interface.
  case "$sym" in __asan_*|__ubsan_*|__tsan_*|__sanitizer_*|__lsan_*|__sancov_*) ok=1 ;; esac
  # Weak or unique instantiations of the C++ standard library's templates
  # keep the library headers' default visibility; they are merged with the
  # host's copies and are no API of ours. Anything strong must be listed.
  if [ $ok -eq 0 ] && [[ "$type" =~ ^[WVu]$ ]]; then
    case "$(c++filt "$sym")" in
      std::*|"void std::"*|"bool std::"*|"int std::"*|__gnu_cxx::*|"guard variable for std::"*|"typeinfo for std::"*|"typeinfo name for std::"*|"vtable for std::"*) ok=1 ;;
    esac
  fi
  if [ $ok -eq 0 ] && [ $instrumented -eq 1 ] && [[ "$type" =~ ^[WVu]$ ]]; then
    case "$(c++filt "$sym")" in "typeinfo for "*|"typeinfo name for "*) ok=1 ;; esac
  fi
  if [ $ok -eq 0 ]; then echo "unexpected export: $type $sym ($(c++filt "$sym"))"; bad=1; fi
done < <(nm -D --defined-only "$lib")
echo "$count exported symbols checked"
exit $bad
