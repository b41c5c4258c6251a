# Programs and modules link through lld when it is installed: a build whose
# objects all come from the compiler cache spends most of its time linking,
# and lld links the test programs about five times faster than the default
# linker.
option(DNT_LLD "Link with lld when it is installed" ON)
if(DNT_LLD AND NOT CMAKE_CROSSCOMPILING)
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=lld DNT_HAVE_LLD)
  if(DNT_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()
