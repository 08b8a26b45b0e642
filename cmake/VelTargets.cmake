# Shared compile settings for the project's own targets.

add_library(vel_options INTERFACE)
target_include_directories(vel_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(vel_options INTERFACE
  -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
# Warnings stop the build only where the project asks for it (its scripts and
# CI): a packager's compiler or build type must not break a plain build.
if(VEL_WERROR)
  target_compile_options(vel_options INTERFACE -Werror)
endif()
# GCC 12 at -O3 reports overlapping copies inside std::string's own assign and
# operator+ (-Wrestrict, GCC bug 105329, fixed in GCC 13) wherever they inline;
# the warning says nothing about our code there, so GCC 12 does not give it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(vel_options INTERFACE -Wno-restrict)
  # At -O3 (Release) GCC 12 also takes std::vector's own resize and copy, once
  # inlined into a small vector's use, for writes past or reads before its
  # storage (-Wstringop-overflow, -Wstringop-overread, -Warray-bounds) and a
  # test table's vectors for uninitialised: all inside the standard library,
  # none at -O2, none with GCC 13.
  target_compile_options(vel_options INTERFACE
    $<$<CONFIG:Release>:-Wno-stringop-overflow -Wno-stringop-overread -Wno-array-bounds -Wno-maybe-uninitialized>)
endif()

if(VEL_SANITIZE)
  target_compile_options(vel_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
    # g++ 12 reports false "maybe uninitialized" warnings inside the standard
    # library (std::function in <regex>) when instrumented.
    -Wno-maybe-uninitialized)
  target_link_options(vel_options INTERFACE -fsanitize=address,undefined)
endif()

# ThreadSanitizer cannot be combined with AddressSanitizer: a build of its own.
if(VEL_SANITIZE_THREAD)
  if(VEL_SANITIZE)
    message(FATAL_ERROR "VEL_SANITIZE_THREAD and VEL_SANITIZE exclude each other")
  endif()
  target_compile_options(vel_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(vel_options INTERFACE -fsanitize=thread)
endif()

# vel_sanitizer_options(TARGET): an executable of an AddressSanitizer build
# starts with the project's runtime options (cmake/sanitizer_options.cpp).
function(vel_sanitizer_options target)
  if(VEL_SANITIZE)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/sanitizer_options.cpp)
  endif()
endfunction()

# vel_add_test(NAME SOURCES src... LIBS lib... [ENV VAR=value...])
# One GoogleTest executable, registered with CTest test by test.
function(vel_add_test name)
  if(NOT VEL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vel_options ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  vel_sanitizer_options(${name})
  # Discovered tests take ENVIRONMENT as one entry (the list is split at ";"),
  # so the variables reach the test through `cmake -E env` as its launcher.
  # The first log message of a process reads its configuration from the
  # registry: a test that does not make a store of its own still never
  # reaches the user's. Temporary files (the event log's message file among
  # them) stay in the build tree too.
  # Under the sanitizers, what libgdiplus keeps for the life of the process
  # is no leak (cmake/lsan.supp).
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/Testing/tmp)
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND};-E;env;VEL_TEST_BIN=${CMAKE_BINARY_DIR}/bin;VEL_SOURCE_DIR=${PROJECT_SOURCE_DIR};VEL_REGISTRY=${CMAKE_BINARY_DIR}/Testing/fallback-registry.db;TMPDIR=${CMAKE_BINARY_DIR}/Testing/tmp;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp;${ARG_ENV}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
endfunction()

# vel_add_bench(NAME SOURCES src... LIBS lib...)
# One Google Benchmark executable.
function(vel_add_bench name)
  if(NOT VEL_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vel_options ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
