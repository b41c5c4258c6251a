if(DNT_SANITIZE)
  set(_dnt_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_options(${_dnt_san})
  add_link_options(${_dnt_san})
endif()

if(DNT_TSAN)
  set(_dnt_tsan -fsanitize=thread -fno-omit-frame-pointer)
  add_compile_options(${_dnt_tsan})
  # Boost.Asio's handler completions end in a standalone fence, which gcc
  # warns ThreadSanitizer does not model, once per handler type; its queues
  # synchronise through mutexes, which it does.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
  add_link_options(${_dnt_tsan})
endif()

if(DNT_FUZZ)
  # Everything is instrumented for coverage; only fuzz programs link libFuzzer.
  # Optimised as libFuzzer advises: unoptimised, the targets ran five to seven
  # times fewer inputs a second, and the smoke run was the longest part of the
  # tests.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -O1)
  add_link_options(-fsanitize=address,undefined)
endif()

if(DNT_COVERAGE)
  # Line and branch counts for gcovr (make coverage).
  # Atomic counters: the concurrency tests update them from several threads.
  add_compile_options(--coverage -fprofile-update=atomic -fno-inline)
  add_link_options(--coverage)
endif()
