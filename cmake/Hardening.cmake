# Instrumented builds of every target, selected by the presets in
# CMakePresets.json: sanitizers, libFuzzer targets, gcov coverage.
set(QUILLET_SANITIZE "" CACHE STRING
    "Sanitizers for every target, as -fsanitize= takes them: address,undefined or thread")
option(QUILLET_FUZZ "Build the libFuzzer targets of fuzz/ (clang only)" OFF)
option(QUILLET_COVERAGE "Instrument every target for gcov line coverage" OFF)
option(QUILLET_CHECK_BOUNDS "Check every index of the standard containers (test builds only)" OFF)

# An index one past a lane loop or a std::array stops the program, even where
# the stray access stays inside one object and no sanitizer sees it. The
# engine keeps its lanes in standard containers so that this covers them.
# Costly in the inner loops: never in a benchmark or a package.
if(QUILLET_CHECK_BOUNDS)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

if(QUILLET_SANITIZE)
  add_compile_options(-fsanitize=${QUILLET_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${QUILLET_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # gcc 12 reports uninitialised std::function members inside <regex> once
    # the sanitizers instrument it; plain builds keep the warning an error.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

if(QUILLET_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUILLET_FUZZ needs clang for libFuzzer; use the fuzz preset")
  endif()
  # Every target carries the fuzzer's coverage hooks and the sanitizers; only
  # the fuzz targets link libFuzzer's main (fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # Targets named in fuzz/ are resolved when the build is generated, so the
  # library may be defined after this point.
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../fuzz ${CMAKE_BINARY_DIR}/fuzz)
endif()

if(QUILLET_COVERAGE)
  # Atomic counters: the concurrency test runs the library on several threads.
  add_compile_options(--coverage -fprofile-update=atomic)
  add_link_options(--coverage)
endif()
