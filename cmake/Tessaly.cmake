# One place for flags, warnings and labels of every library, test and benchmark.

function(tessaly_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TESSALY_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Flags for what is compiled from tests/ only, after the build type's own: the code under test
# keeps the tree's flags, while the tests' own code, which is mostly GoogleTest's macros, can
# be compiled more cheaply (./test uses -Og: a third less time than -O2).
set(TESSALY_TEST_FLAGS "" CACHE STRING "Extra compile flags of the test programs and their support library")
function(tessaly_test_options target)
  tessaly_target_options(${target})
  target_compile_options(${target} PRIVATE ${TESSALY_TEST_FLAGS})
endfunction()

# Checked buffer sizes in the C library's string and memory functions, as Debian builds its
# programs; it needs the optimiser, and the sanitizers check the same and more.
if(NOT TESSALY_SANITIZE AND NOT TESSALY_BUILD_FUZZ)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

# Linking the many test programs, each with its debug information, is much of a build's time:
# LLVM's linker (lld) or else gold does it several times faster than the default one.
include(CheckLinkerFlag)
foreach(_ld IN ITEMS lld gold)
  check_linker_flag(CXX -fuse-ld=${_ld} TESSALY_HAS_LD_${_ld})
  if(TESSALY_HAS_LD_${_ld})
    add_link_options(-fuse-ld=${_ld})
    break()
  endif()
endforeach()

if(TESSALY_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# tessaly_add_library(name SOURCES ... [DEPS ...] [BYTES])
# BYTES marks a library of byte-string code: no silent byte/text conversions allowed.
function(tessaly_add_library name)
  cmake_parse_arguments(A "BYTES" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  target_compile_definitions(${name} PRIVATE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
  tessaly_target_options(${name})
endfunction()

# tessaly_add_test(name LABELS unit|widget|smtp|real-server SOURCES ... [DEPS ...] [PROPERTIES ...] [WHOLE] [OWN])
# Every test executable uses the Qt-aware GoogleTest main; each test case becomes one ctest test
# with the given label, run in a process of its own. So that a build links few programs, the
# sources of every such call in one folder with one label go into one executable,
# tests_<folder>_<label> (linking is the slow part and the cases stay apart at run time). A call
# gets an executable of its own, named `name`, with WHOLE (the executable is one ctest test: cases
# that share a server's stored mail must not run side by side), with PROPERTIES, or with OWN (for
# a program whose cases share a state no other test should see).
function(tessaly_add_test name)
  cmake_parse_arguments(A "WHOLE;OWN" "" "LABELS;SOURCES;DEPS;PROPERTIES" ${ARGN})
  if(A_WHOLE OR A_OWN OR A_PROPERTIES)
    set(exe ${name})
  else()
    get_filename_component(_folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    set(exe tests_${_folder}_${A_LABELS})
  endif()
  if(NOT TARGET ${exe})
    add_executable(${exe})
    tessaly_test_executable(${exe})
    # `cmake --build B --target all_<label>_tests` builds what `ctest -L <label>` runs.
    if(NOT TARGET all_${A_LABELS}_tests)
      add_custom_target(all_${A_LABELS}_tests)
    endif()
    add_dependencies(all_${A_LABELS}_tests ${exe})
    if(A_WHOLE)
      add_test(NAME ${name} COMMAND ${exe})
      # Such a program runs all its cases one after the other: started among the first, it does
      # not leave one core alone with it at the end of a fresh tree's run (where ctest knows no
      # times yet and starts the tests in their order).
      set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}" TIMEOUT 300 COST 10
                           ENVIRONMENT QT_QPA_PLATFORM=offscreen ${A_PROPERTIES})
    else()
      gtest_discover_tests(${exe}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        # A list-valued property here would be flattened and shift every property after it,
        # so ENVIRONMENT holds exactly one entry and LABELS one label.
        PROPERTIES LABELS "${A_LABELS}" TIMEOUT 120
                   ENVIRONMENT QT_QPA_PLATFORM=offscreen
                   ${A_PROPERTIES})
    endif()
  endif()
  target_sources(${exe} PRIVATE ${A_SOURCES})
  target_link_libraries(${exe} PRIVATE ${A_DEPS})
endfunction()

# What every program built from tests/ shares (the test executables, and the helper programs
# that tests start): the test support library, GoogleTest, the string printers, and the
# precompiled Qt and GoogleTest headers of the support library.
function(tessaly_test_executable target)
  target_link_libraries(${target} PRIVATE tessaly_test_support GTest::gtest GTest::gmock)
  tessaly_test_options(${target})
  # Nothing in tests/ declares a QObject class, so the moc has nothing to do there.
  set_target_properties(${target} PROPERTIES AUTOMOC OFF)
  if(TESSALY_PCH)
    # The shared header also holds the printers.
    target_precompile_headers(${target} REUSE_FROM tessaly_test_support)
  else()
    # Readable failure output for QString and QByteArray in every test, whatever it includes.
    target_compile_options(${target} PRIVATE -include ${PROJECT_SOURCE_DIR}/tests/fixtures/qt_printers.h)
  endif()
endfunction()

# tessaly_add_benchmark(name SOURCES ... [DEPS ...])
function(tessaly_add_benchmark name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark)
  tessaly_target_options(${name})
  add_dependencies(benchmarks ${name})
endfunction()

# tessaly_add_fuzzer(name SOURCES ... [DEPS ...]): libFuzzer with address and undefined sanitizers.
function(tessaly_add_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
endfunction()
