# Compiles go through ccache when it is installed. Its cache lives in the
# user's cache folder, outside the clone, so a fresh clone on the same machine
# (CI's) reuses what an earlier build compiled. Paths are hashed relative to
# the source root and the build folder is left out of the hash, so clones and
# worktrees in other folders share the entries.
option(DNT_CCACHE "Compile through ccache when it is installed" ON)
find_program(DNT_CCACHE_PROGRAM ccache)
if(DNT_CCACHE AND DNT_CCACHE_PROGRAM)
  set(_dnt_ccache ${CMAKE_COMMAND} -E env
      CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1
      # Every object that uses a precompiled header lists it (over 100 MB) as
      # an input; the inode cache hashes it once per build instead of once per
      # object, which halves a build that is all cache hits.
      CCACHE_INODECACHE=true
      # Precompiled headers are valid for ccache only with these relaxations.
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      ${DNT_CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${_dnt_ccache})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${_dnt_ccache})
endif()
