# The tools compile as a few combined source files (CMake's unity build):
# their files include the same header-only libraries (nlohmann-json, CLI11,
# Beast) and instantiate the same templates, which a combined file compiles
# once instead of once per file. The engine's own libraries, cheap to
# compile, stay one object per file.
option(DNT_UNITY "Compile the tools as combined source files" ON)

# dnt_unity(targets...)
function(dnt_unity)
  if(DNT_UNITY)
    set_target_properties(${ARGN} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
endfunction()
