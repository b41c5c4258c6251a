# The tools and the engine's libraries compile as a few combined source
# files (CMake's unity build): their files include the same headers
# (the standard library's, nlohmann-json, Beast) and instantiate the same
# templates, which a combined file compiles once instead of once per file.
# Names local to one file must be unique within its target: a combined file
# shares one unnamed namespace.
option(DNT_UNITY "Compile the tools and the engine as combined source files" ON)

# dnt_unity(targets...)
function(dnt_unity)
  if(DNT_UNITY)
    set_target_properties(${ARGN} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
endfunction()
