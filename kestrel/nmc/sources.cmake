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
