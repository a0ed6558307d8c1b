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
  # The NMC controller (kestrel/nmc/lm_nmc.h).
  lm_nmc_init lm_nmc_conn_init lm_nmc_stop lm_nmc_register_state_callback lm_nmc_is_terminating
  lm_nmc_set_appdata_path lm_nmc_is_dms_context lm_nmc_is_dmr_context
  lm_dmscp_create_context lm_dmscp_delete_context lm_dmscp_register_callback
  lm_dmrcp_create_context lm_dmrcp_delete_context lm_dmrcp_register_callback
  lm_queue_register_callback lm_nmc_register_api_callback lm_nmc_ioctl lm_dmscp_ioctl lm_dmrcp_ioctl
  lm_nmc_api_query lm_nmc_api_query_string
  # Renderer queues (kestrel/nmc/lm_queue.h).
  lm_queue_get_count lm_queue_get_index lm_queue_go_index lm_queue_get_playindex lm_queue_add_bookmark
  lm_queue_add_metadata lm_queue_delete_item lm_queue_move_to lm_queue_clear lm_queue_get_bookmark
  lm_queue_go_bookmark lm_queue_get_metadata lm_queue_extract_metadata lm_queue_extract_metadata_int
  lm_queue_extract_metadata_uint64 lm_queue_load_metadata
  # Downloads (kestrel/playlist/lm_nmc_download.h).
  lm_nmc_download_uri
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
