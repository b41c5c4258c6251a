# Warnings for our own targets; call dnt_target_warnings(target).
function(dnt_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-unused-parameter)
endfunction()

# Common settings of an internal library or program.
function(dnt_internal target)
  dnt_target_warnings(${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${DNT_SOURCE_ROOT}>
    $<BUILD_INTERFACE:${DNT_SOURCE_ROOT}/include>
    $<BUILD_INTERFACE:${DNT_SOURCE_ROOT}/private_include>)
endfunction()
