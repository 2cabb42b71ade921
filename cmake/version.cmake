# The version has one source: project(Kelvane VERSION ...) in the top
# CMakeLists. The resource scripts of the program and its library, and the
# release archive's name, all take it from here.
if(PROJECT_VERSION_PATCH STREQUAL "")
  set(KELVANE_VERSION_PATCH 0)
else()
  set(KELVANE_VERSION_PATCH ${PROJECT_VERSION_PATCH})
endif()
set(KELVANE_COPYRIGHT "Copyright (c) 2026 the Kelvane developers. MIT License.")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kelvane_version.h.in ${PROJECT_BINARY_DIR}/generated/kelvane_version.h @ONLY)
# Where a resource script finds kelvane_version.h and versioninfo.rc.
set(KELVANE_VERSION_INCLUDES ${PROJECT_BINARY_DIR}/generated ${CMAKE_CURRENT_LIST_DIR})
# The resource compiler's include scanning is not trusted to see these.
set(KELVANE_VERSION_DEPENDS ${PROJECT_BINARY_DIR}/generated/kelvane_version.h ${CMAKE_CURRENT_LIST_DIR}/versioninfo.rc)
