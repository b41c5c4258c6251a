# The heavy header-only libraries (GoogleTest/GoogleMock, Boost.Asio/Beast)
# are parsed once per build instead of once per source file: each set is
# precompiled by a small anchor library and reused by the targets that
# include it. The reusing targets compile with the anchor's options; a
# precompiled header that does not fit is ignored by the compiler, which
# then reads the headers as usual, so this changes speed, never meaning.
option(DNT_PCH "Precompile the heavy header-only libraries" ON)

# _dnt_use_pch(target anchor HEADERS ... LIBS ...): target reuses the
# headers precompiled by anchor. A header precompiled for a library (-fPIC)
# does not fit a program (-fPIE), so programs get an anchor program of their
# own.
function(_dnt_use_pch target anchor)
  # Not with clang (the sanitizer and fuzz builds): CMake hands clang the
  # header and the precompiled header by absolute paths behind -Xclang, which
  # ccache cannot make relative, so a fresh clone missed the cache for every
  # file that used one.
  if(NOT DNT_PCH OR CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "HEADERS;LIBS" ${ARGN})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(anchor ${anchor}_program)
    if(NOT TARGET ${anchor})
      add_executable(${anchor} ${DNT_SOURCE_ROOT}/cmake/pch_anchor_main.cc)
    endif()
  elseif(NOT TARGET ${anchor})
    add_library(${anchor} STATIC ${DNT_SOURCE_ROOT}/cmake/pch_anchor.cc)
  endif()
  get_target_property(anchored ${anchor} PRECOMPILE_HEADERS)
  if(NOT anchored)
    dnt_internal(${anchor})
    target_link_libraries(${anchor} PRIVATE ${ARG_LIBS})
    target_precompile_headers(${anchor} PRIVATE ${ARG_HEADERS})
  endif()
  target_precompile_headers(${target} REUSE_FROM ${anchor})
endfunction()

# dnt_use_gtest_pch(target): a test program's GoogleTest and GoogleMock.
function(dnt_use_gtest_pch target)
  _dnt_use_pch(${target} dnt_gtest_pch
    HEADERS <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <memory> <functional>
    LIBS GTest::gmock GTest::gtest)
endfunction()

# dnt_use_asio_pch(target): Boost.Asio and Beast over OpenSSL (the proxy, its
# tests, the local origin and the bases feed's client).
function(dnt_use_asio_pch target)
  find_package(OpenSSL 3 REQUIRED)
  _dnt_use_pch(${target} dnt_asio_pch
    HEADERS <boost/asio/io_context.hpp> <boost/asio/ip/tcp.hpp> <boost/asio/steady_timer.hpp>
            <boost/asio/ssl.hpp> <boost/beast/core.hpp> <boost/beast/http.hpp>
            <string> <vector> <memory> <functional> <optional>
    LIBS Boost::headers OpenSSL::SSL Threads::Threads)
endfunction()

# dnt_use_tools_pch(target): nlohmann-json, which most files of the tools
# include. Not CLI11: its header defines objects (the validators) that every
# file including it compiles again, some six seconds each, so only the files
# that build command lines include it.
function(dnt_use_tools_pch target)
  _dnt_use_pch(${target} dnt_tools_pch
    HEADERS <nlohmann/json.hpp> <string> <vector> <memory> <functional> <optional>
    LIBS nlohmann_json::nlohmann_json)
endfunction()
