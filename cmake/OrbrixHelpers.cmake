# Warnings, sanitizers and test registration shared by every module.

if(ORBRIX_SANITIZE)
  string(REPLACE "," ";" _orbrix_sanitizers "${ORBRIX_SANITIZE}")
  set(_orbrix_san_flags -fsanitize=${ORBRIX_SANITIZE} -fno-omit-frame-pointer)
  if("undefined" IN_LIST _orbrix_sanitizers)
    list(APPEND _orbrix_san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_orbrix_san_flags})
  add_link_options(-fsanitize=${ORBRIX_SANITIZE})
endif()

# The kind of the module libraries: shared here, static in the Windows build
# (cmake/OrbrixWindows.cmake).
set(ORBRIX_LIBRARY_TYPE SHARED)

# Applies the project's warning set to a target.
function(orbrix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
endfunction()

# orbrix_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers each of its tests with CTest.
# Tests that start threads carry the label "threads"; the ThreadSanitizer run
# selects them by it.
function(orbrix_add_test name)
  if(NOT ORBRIX_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  orbrix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  # One label per test: a list would be split apart on its way to CTest.
  set(_label unit)
  if(ARG_LABELS)
    list(GET ARG_LABELS 0 _label)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${_label} TIMEOUT 120)
endfunction()
