# Every target compiles as a few combined source files (CMake's unity
# build), eight files to one: their files include the same headers (the
# standard library's, GoogleTest, nlohmann-json, Beast) and instantiate the
# same templates, which a combined file compiles once instead of once per
# file. Names local to one file must be unique within its target: a
# combined file shares one unnamed namespace.
option(DNT_UNITY "Compile the code as combined source files" ON)
if(DNT_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)
endif()

# A combined file includes its sources by absolute path, so __FILE__ (which
# GoogleTest's assertions expand) would name the clone's folder, and no other
# clone (CI's) would find those objects in the shared compiler cache. Paths
# in __FILE__ are taken relative to the repository instead.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

# dnt_unity_whole(targets...): the whole target as one combined file, for
# targets whose files mostly instantiate the same templates (Asio's and
# Beast's), where splitting compiles them again.
function(dnt_unity_whole)
  set_target_properties(${ARGN} PROPERTIES UNITY_BUILD_BATCH_SIZE 0)
endfunction()
