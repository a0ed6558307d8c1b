# Profile-guided build of the library's objects (kestrel_core), set by
# scripts/build for the release flavour:
#   LUMET_PGO=generate  kestrel_core instrumented; its programs write .gcda
#                       files beside the objects when they end (the training
#                       run, scripts/pgo-train);
#   LUMET_PGO=use       kestrel_core optimised with the .gcda files that
#                       scripts/pgo-train copied beside this tree's objects;
#   empty               a plain build.
# Only kestrel_core is touched: the shared library is made of its objects, and
# the tests and benchmarks that link it check and measure the same code.
set(LUMET_PGO "" CACHE STRING "Profile-guided build of kestrel_core: generate, use or empty")
if(NOT LUMET_PGO STREQUAL "" AND NOT LUMET_PGO STREQUAL "generate" AND NOT LUMET_PGO STREQUAL "use")
  message(FATAL_ERROR "LUMET_PGO must be generate, use or empty")
endif()
if(NOT LUMET_PGO STREQUAL "" AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "LUMET_PGO needs g++ (the release flavour's compiler)")
endif()
if(NOT LUMET_PGO STREQUAL "" AND NOT LUMET_SANITIZE STREQUAL "")
  message(FATAL_ERROR "LUMET_PGO and LUMET_SANITIZE do not go together")
endif()

# The file scripts/pgo-train touches when it brought a new profile: every
# object of kestrel_core depends on it, since the build tool does not see the
# .gcda files (ccache does: objects whose profile did not change come from
# the cache).
set(LUMET_PGO_STAMP ${CMAKE_BINARY_DIR}/pgo-profile.stamp)

# lumet_pgo(target): applies LUMET_PGO to one library target.
function(lumet_pgo target)
  if(LUMET_PGO STREQUAL "generate")
    # -pthread makes g++ count with atomic updates (the server and notifier
    # threads run the same code at once); it is said that way rather than as
    # -fprofile-update=prefer-atomic, which ccache does not take and would
    # compile every object uncached.
    target_compile_options(${target} PRIVATE -fprofile-generate -pthread)
    # The profile names a file-local function by its source path as the
    # compiler saw it; ccache's base_dir would make it relative here, while
    # the optimised objects (not through ccache, below) see the absolute one.
    get_target_property(launcher ${target} CXX_COMPILER_LAUNCHER)
    if(launcher)
      set_property(TARGET ${target} PROPERTY CXX_COMPILER_LAUNCHER env CCACHE_BASEDIR= ${launcher})
    endif()
    # Whatever links the instrumented objects needs the profiling runtime.
    target_link_options(${target} INTERFACE -fprofile-generate)
  elseif(LUMET_PGO STREQUAL "use")
    # Code the training run did not reach is optimised as usual, not for
    # size; a function changed since the training run is built without its
    # profile instead of failing the build. ccache does not take
    # -fprofile-partial-training: these objects are always compiled, and
    # without it, with the source paths that the profile was made with.
    set_property(TARGET ${target} PROPERTY CXX_COMPILER_LAUNCHER "")
    target_compile_options(${target} PRIVATE -fprofile-use -fprofile-partial-training
                           -Wno-missing-profile -Wno-coverage-mismatch)
    if(NOT EXISTS ${LUMET_PGO_STAMP})
      file(TOUCH ${LUMET_PGO_STAMP})
    endif()
    get_target_property(sources ${target} SOURCES)
    set_property(SOURCE ${sources} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${LUMET_PGO_STAMP})
  endif()
endfunction()
