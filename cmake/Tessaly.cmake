# One place for flags, warnings and labels of every library, test and benchmark.

function(tessaly_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TESSALY_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Checked buffer sizes in the C library's string and memory functions, as Debian builds its
# programs; it needs the optimiser, and the sanitizers check the same and more.
if(NOT TESSALY_SANITIZE AND NOT TESSALY_BUILD_FUZZ)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

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

# tessaly_add_test(name LABELS unit|widget|smtp|real-server SOURCES ... [DEPS ...] [PROPERTIES ...] [WHOLE])
# Every test executable uses the Qt-aware GoogleTest main; each test case becomes one ctest test,
# or, with WHOLE, the executable is one ctest test (cases that share a server's stored mail must
# not run side by side).
function(tessaly_add_test name)
  cmake_parse_arguments(A "WHOLE" "" "LABELS;SOURCES;DEPS;PROPERTIES" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE tessaly_test_support ${A_DEPS} GTest::gtest GTest::gmock)
  # Readable failure output for QString and QByteArray in every test, whatever it includes.
  target_compile_options(${name} PRIVATE -include ${PROJECT_SOURCE_DIR}/tests/fixtures/qt_printers.h)
  tessaly_target_options(${name})
  if(A_WHOLE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}" TIMEOUT 300
                         ENVIRONMENT QT_QPA_PLATFORM=offscreen ${A_PROPERTIES})
    return()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    # A list-valued property here would be flattened and shift every property after it,
    # so ENVIRONMENT holds exactly one entry and LABELS one label.
    PROPERTIES LABELS "${A_LABELS}" TIMEOUT 120
               ENVIRONMENT QT_QPA_PLATFORM=offscreen
               ${A_PROPERTIES})
endfunction()

# tessaly_add_benchmark(name SOURCES ... [DEPS ...])
function(tessaly_add_benchmark name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark)
  tessaly_target_options(${name})
endfunction()

# tessaly_add_fuzzer(name SOURCES ... [DEPS ...]): libFuzzer with address and undefined sanitizers.
function(tessaly_add_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
endfunction()
