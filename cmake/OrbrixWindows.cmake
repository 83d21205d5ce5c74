# What the Windows cross build takes from the build machine instead of
# packages built for Windows: the header-only libraries it needs (fmt in its
# header-only mode, the date headers), through a folder of links so the
# host's other headers stay out of the cross compiler's way, and GoogleTest
# built from Debian's sources.

set(_orbrix_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_orbrix_host_headers})
foreach(dir IN ITEMS fmt date)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/bootstrap")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${_orbrix_host_headers}/${dir} SYMBOLIC)
endforeach()
set(ORBRIX_HOST_HEADERS ${_orbrix_host_headers} CACHE INTERNAL "")

# find_package(fmt) and find_package(date) find the configurations beside
# this file.
set(fmt_DIR ${CMAKE_CURRENT_LIST_DIR}/win32/fmt CACHE PATH "" FORCE)
set(date_DIR ${CMAKE_CURRENT_LIST_DIR}/win32/date CACHE PATH "" FORCE)

# The modules are static libraries here: one self-contained program per test
# or engine, nothing to export from a DLL.
set(ORBRIX_LIBRARY_TYPE STATIC)

if(ORBRIX_WINDOWS_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
