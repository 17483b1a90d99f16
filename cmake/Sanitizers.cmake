# TIDEWELL_SANITIZE: AddressSanitizer + UndefinedBehaviorSanitizer on every
# target. Any finding ends the process with an error, so a test that trips
# one fails. Works with g++ and clang++.
#
# TIDEWELL_FUZZ: the libFuzzer targets of tests/fuzz/ (clang only). The
# sanitizers come with it, and every library gets libFuzzer's coverage
# instrumentation so the fuzzers can steer by it.
if(TIDEWELL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TIDEWELL_FUZZ needs clang (configure with CXX=clang++)")
endif()

if(TIDEWELL_SANITIZE OR TIDEWELL_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # File and line in the sanitizers' reports, without the cost of full
  # debug information.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-gline-tables-only)
  else()
    add_compile_options(-g1)
  endif()
endif()

if(TIDEWELL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
