# Each layer compiles against an include root of its own that holds links to
# the folders (or single headers) it may include, and nothing else. A layer
# reaches another only by linking it, so an include against the direction of
# the layers fails to build.
function(kelvane_layer target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(path IN LISTS ARGN)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
