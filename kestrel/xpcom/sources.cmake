# The component (ZelControlPoint2XPCom) and the module entry, over our small
# XPCOM layer (tools/xpcom). Kept in a static library of its own, so that
# only the shared object and the component's tests link the layer.
add_library(kestrel_xpcom STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPCom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPComPlaylists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPComEvents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPComDevices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPComPlayback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPComSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelControlPoint2XPComSites.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_xpcom_foundation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_xpcom_out.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZelXPComObserverList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_xpcom_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_xpcom_shutdown.cpp)
set_target_properties(kestrel_xpcom PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  C_VISIBILITY_PRESET hidden
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# The library's headers, not kestrel_core itself: the shared object takes
# both whole, and a test links kestrel_core beside it.
target_include_directories(kestrel_xpcom PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(kestrel_xpcom PUBLIC KESTREL_BUILDING=1)
target_link_libraries(kestrel_xpcom PUBLIC xpcomlite_glue xpcomlite)
lumet_warnings(kestrel_xpcom)
