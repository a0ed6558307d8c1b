# GoogleTest for the mingw-w64 cross build: no target build of it is
# installed, so it is compiled from Debian's sources (package googletest) and
# offered under the names find_package(GTest) gives on the host.
set(LUMET_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${LUMET_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${LUMET_GOOGLETEST_SOURCE} (scripts/setup windows)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${LUMET_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
foreach(pair "GTest::gtest;gtest" "GTest::gtest_main;gtest_main" "GTest::GTest;gtest" "GTest::Main;gtest_main")
  list(GET pair 0 alias)
  list(GET pair 1 real)
  if(NOT TARGET ${alias})
    add_library(${alias} ALIAS ${real})
  endif()
endforeach()
include(GoogleTest)
