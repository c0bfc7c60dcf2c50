# Helpers shared by every component.

# veltro_filter_library(<target> <file name> SOURCES ... [LIBS ...])
# A plug-in filter library in bin/filters under its exact file name (KeshRTMPSink.ax, aacenc.dll, ...).
function(veltro_filter_library target file_name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME ${file_name}
    LIBRARY_OUTPUT_DIRECTORY ${VELTRO_FILTER_DIR}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "\$ORIGIN/..")
  target_link_libraries(${target} PRIVATE vplatform ${ARG_LIBS})
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()

# veltro_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest program, one ctest entry. Labels: unit, integration, threaded (runs under TSan).
function(veltro_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  # The fuzz build keeps the target (other test files may refer to it) but neither builds nor runs it.
  if(VELTRO_FUZZ)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
  else()
    add_executable(${name} ${ARG_SOURCES})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    VELTRO_BIN_DIR="${VELTRO_BIN_DIR}" VELTRO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(VELTRO_FUZZ)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# veltro_fuzzer(<name> SOURCES ... [LIBS ...] CORPUS <dir>)
# A libFuzzer target, built only in the fuzz preset; scripts/fuzz runs each on its corpus.
function(veltro_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT VELTRO_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  file(APPEND ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${name} ${ARG_CORPUS}\n")
endfunction()
