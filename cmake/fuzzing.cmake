# PLEXMILL_FUZZ: with clang, every library gets libFuzzer's coverage hooks and runs under the
# address and undefined-behaviour sanitizers (whose runtimes, linked into every program, also
# provide the hooks); the fuzzers themselves are built in fuzz/. Other compilers build none.
option(PLEXMILL_FUZZ "Build the libFuzzer targets (clang only)" OFF)
set(PLEXMILL_FUZZERS OFF)
if(PLEXMILL_FUZZ)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(PLEXMILL_FUZZERS ON)
    add_compile_options(-fsanitize=fuzzer-no-link)
    if(NOT PLEXMILL_SANITIZE)
      set(PLEXMILL_SANITIZE "address;undefined")
    endif()
  else()
    message(WARNING "PLEXMILL_FUZZ needs clang (libFuzzer); no fuzzers are built")
  endif()
endif()
