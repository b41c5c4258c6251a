# The tools, the engine's libraries, the tests and the fuzz targets compile
# as a few combined source files (CMake's unity build): their files include
# the same headers (the standard library's, GoogleTest, nlohmann-json, Beast)
# and instantiate the same templates, which a combined file compiles once
# instead of once per file. Names local to one file must be unique within
# its target: a combined file shares one unnamed namespace.
option(DNT_UNITY "Compile the code as combined source files" ON)

# A combined file includes its sources by absolute path, so __FILE__ (which
# GoogleTest's assertions expand) would name the clone's folder, and no other
# clone (CI's) would find those objects in the shared compiler cache. Paths
# in __FILE__ are taken relative to the repository instead.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

# dnt_unity(targets... [WHOLE]): eight files to a combined file, or with
# WHOLE the whole target as one, for targets whose files mostly instantiate
# the same templates (Asio's and Beast's), where splitting compiles them again.
function(dnt_unity)
  cmake_parse_arguments(ARG "WHOLE" "" "" ${ARGN})
  if(DNT_UNITY)
    if(ARG_WHOLE)
      set(batch 0)
    else()
      set(batch 8)
    endif()
    set_target_properties(${ARG_UNPARSED_ARGUMENTS} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${batch})
  endif()
endfunction()
