# Warnings for our own targets; call dnt_target_warnings(target).
function(dnt_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-unused-parameter)
endfunction()

# Common settings of an internal library or program. On Windows every
# program and the module carry the version resource the trace reads.
function(dnt_internal target)
  dnt_target_warnings(${target})
  get_target_property(type ${target} TYPE)
  if(WIN32 AND (type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY"))
    target_sources(${target} PRIVATE ${DNT_VERSION_RC})
  endif()
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${DNT_SOURCE_ROOT}>
    $<BUILD_INTERFACE:${DNT_SOURCE_ROOT}/include>
    $<BUILD_INTERFACE:${DNT_SOURCE_ROOT}/private_include>)
endfunction()
