# The heavy header-only libraries (GoogleTest/GoogleMock, Boost.Asio/Beast)
# are parsed once per build instead of once per source file: each set is
# precompiled by a small anchor library and reused by the targets that
# include it. The reusing targets compile with the anchor's options; a
# precompiled header that does not fit is ignored by the compiler, which
# then reads the headers as usual, so this changes speed, never meaning.
option(DNT_PCH "Precompile the heavy header-only libraries" ON)

function(_dnt_pch_anchor anchor)
  cmake_parse_arguments(ARG "" "" "HEADERS;LIBS" ${ARGN})
  if(TARGET ${anchor})
    return()
  endif()
  add_library(${anchor} STATIC ${DNT_SOURCE_ROOT}/cmake/pch_anchor.cc)
  dnt_internal(${anchor})
  target_link_libraries(${anchor} PRIVATE ${ARG_LIBS})
  target_precompile_headers(${anchor} PRIVATE ${ARG_HEADERS})
endfunction()

# dnt_use_gtest_pch(target): a test program's GoogleTest and GoogleMock.
function(dnt_use_gtest_pch target)
  if(NOT DNT_PCH)
    return()
  endif()
  _dnt_pch_anchor(dnt_gtest_pch
    HEADERS <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <memory> <functional>
    LIBS GTest::gmock GTest::gtest)
  target_precompile_headers(${target} REUSE_FROM dnt_gtest_pch)
endfunction()

# dnt_use_asio_pch(target): Boost.Asio and Beast over OpenSSL (the proxy and
# the local origin).
function(dnt_use_asio_pch target)
  if(NOT DNT_PCH)
    return()
  endif()
  find_package(OpenSSL 3 REQUIRED)
  _dnt_pch_anchor(dnt_asio_pch
    HEADERS <boost/asio/io_context.hpp> <boost/asio/ip/tcp.hpp> <boost/asio/steady_timer.hpp>
            <boost/asio/ssl.hpp> <boost/beast/core.hpp> <boost/beast/http.hpp>
            <string> <vector> <memory> <functional> <optional>
    LIBS Boost::headers OpenSSL::SSL Threads::Threads)
  target_precompile_headers(${target} REUSE_FROM dnt_asio_pch)
endfunction()

# dnt_use_tools_pch(target): nlohmann-json and CLI11, which every command of
# the tools includes.
function(dnt_use_tools_pch target)
  if(NOT DNT_PCH)
    return()
  endif()
  _dnt_pch_anchor(dnt_tools_pch
    HEADERS <nlohmann/json.hpp> <CLI/CLI.hpp> <string> <vector> <memory> <functional> <optional>
    LIBS nlohmann_json::nlohmann_json CLI11::CLI11)
  target_precompile_headers(${target} REUSE_FROM dnt_tools_pch)
endfunction()
