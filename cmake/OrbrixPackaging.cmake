# One install for C++ and Python users: versioned SONAMEs, a pkg-config file
# per module beside the CMake package, and a Debian package (CPack) holding
# the runtime libraries, the development headers with the CMake and
# pkg-config files, and the Python module.
#   cpack --config build/default/CPackConfig.cmake -B build/default/package

# SONAMEs: within 0.x every minor version may break the ABI, so the SONAME
# carries it (libbrokerlink.so.0.1); from 1.0 on the major version alone.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(ORBRIX_SOVERSION "0.${PROJECT_VERSION_MINOR}")
else()
  set(ORBRIX_SOVERSION "${PROJECT_VERSION_MAJOR}")
endif()
foreach(target IN LISTS _orbrix_installed)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "SHARED_LIBRARY")
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                                               SOVERSION ${ORBRIX_SOVERSION})
  endif()
endforeach()

# orbrix_pkg_config(<module> <library> <description> [REQUIRES ...] [LIBS ...] [CFLAGS ...])
file(RELATIVE_PATH ORBRIX_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" ORBRIX_PC_TO_PREFIX "${ORBRIX_PC_TO_PREFIX}")
function(orbrix_pkg_config module library description)
  if(NOT TARGET ${library})
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "REQUIRES;LIBS;CFLAGS" ${ARGN})
  set(ORBRIX_PC_MODULE ${module})
  set(ORBRIX_PC_LIBRARY ${library})
  set(ORBRIX_PC_DESCRIPTION "${description}")
  list(JOIN ARG_REQUIRES " " ORBRIX_PC_REQUIRES)
  list(JOIN ARG_LIBS " " ORBRIX_PC_LIBS)
  list(JOIN ARG_CFLAGS " " ORBRIX_PC_CFLAGS)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/orbrix-module.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/orbrix-${module}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/orbrix-${module}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

orbrix_pkg_config(security security
  "Security records, the engine's records and enums, BaseGateway, safe_call")
orbrix_pkg_config(config orbrix_config "The engine's KEY=value configuration")
orbrix_pkg_config(automation automation "The COM-style automation layer" LIBS -pthread)
orbrix_pkg_config(cqgsim cqgsim "The simulated CQGCEL" REQUIRES orbrix-automation)
orbrix_pkg_config(ApiHost ApiHost "The apartment hosting CQGCEL, Trace, AssertMessage"
  REQUIRES orbrix-automation)
orbrix_pkg_config(brokerlink brokerlink "BrokerLink, the CQG gateway"
  REQUIRES orbrix-ApiHost orbrix-security
  LIBS -ldate-tz CFLAGS -DHAS_STRING_VIEW=1 -DONLY_C_LOCALE=1 -DUSE_OS_TZDB=1)
orbrix_pkg_config(bot bot "The Telegram control bot" REQUIRES orbrix-config LIBS -pthread)
orbrix_pkg_config(backtest orbrix_backtest "Backtests: an engine through BrokerLink over recorded history"
  REQUIRES orbrix-brokerlink orbrix-cqgsim LIBS -lorbrix_report -lfmt)

# The Debian packages, split the usual way (`cpack` in the build tree):
#   liborbrix-cqg<SOVERSION>  the shared libraries (the simulator among them)
#   liborbrix-cqg-dev         headers, static libraries, CMake and pkg-config files
#   python3-orbrix-cqg        the Python package orbrix_cqg
#   orbrix-cqg-tools          orbrix-demo, orbrix-backtest, orbrix-bot
# each with a -dbgsym package (.ddeb) holding the debug symbols the binaries
# are stripped of. Install with `apt install ./liborbrix-cqg*.deb ...`.
set(ORBRIX_DEB_RUNTIME liborbrix-cqg${ORBRIX_SOVERSION})
set(ORBRIX_DEB_DEV liborbrix-cqg-dev)
set(ORBRIX_DEB_PYTHON python3-orbrix-cqg)
set(ORBRIX_DEB_PROGRAMS orbrix-cqg-tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbrix-cqg)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "orbrix")
set(CPACK_PACKAGE_CONTACT "orbrix developers <dev@orbrix.example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev programs)
if(TARGET orbrix_cqg)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# 0.2.0-1: the project's version, then the packaging's revision, so the
# changelog of the release (CHANGELOG.md) is the packages' upstream changelog.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orbrix.example.org/")
# Each package depends on the runtime package of exactly this version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS runtime)
# Shared-library dependencies by dpkg-shlibdeps (run time only: no -dev
# package), resolving this build's own libraries in the build tree; the
# runtime package declares its libraries (shlibs) for others to depend on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(_orbrix_lib_dirs)
foreach(target IN LISTS _orbrix_installed)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "SHARED_LIBRARY")
    get_target_property(_dir ${target} BINARY_DIR)
    list(APPEND _orbrix_lib_dirs ${_dir})
  endif()
endforeach()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_orbrix_lib_dirs})
# Binaries stripped, their debug symbols in <package>-dbgsym.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Static libraries lose their debug sections too (CPack leaves archives).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/OrbrixStripArchives.cmake)
# The packages CPack makes are finished as Debian's own are: the -dbgsym
# packages with relative checksums and documentation, the runtime package
# without the ldconfig calls its trigger makes redundant.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/OrbrixFinishPackages.cmake)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ORBRIX_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "tzdata")
# The linker cache is refreshed by dpkg's ldconfig trigger, not by scripts.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "CQG gateway modules for trading engines - shared libraries
The orbrix modules a trading engine loads to trade through the CQG
platform: security records, the COM-style host of the vendor's CQGCEL
automation object, the gateway BrokerLink (quotes, order book, bars,
orders, fills, accounts and positions), the Telegram control bot and the
simulated CQGCEL the gateway runs on without the vendor's client.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${ORBRIX_DEB_DEV})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libhowardhinnant-date-dev, libfmt-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "CQG gateway modules for trading engines - development files
Headers, the CMake package orbrix_cqg, the pkg-config files orbrix-*
and the static backtest library for building engines against the orbrix
modules.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${ORBRIX_DEB_PYTHON})
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
if(TARGET orbrix_cqg)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${ORBRIX_PYTHON_VERSION}), python3 (<< ${ORBRIX_PYTHON_NEXT_VERSION})")
endif()
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pandas, python3-distributed")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "CQG gateway modules for trading engines - Python 3 module
The Python package orbrix_cqg: engines written in Python over BrokerLink,
backtests over recorded history, parameter sweeps and the Telegram
control bot, with type stubs.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${ORBRIX_DEB_PROGRAMS})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SUGGESTS "gnuplot-nox")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "CQG gateway modules for trading engines - programs
orbrix-demo, a small engine over the simulated CQGCEL; orbrix-backtest,
which runs it over recorded history and writes its report; and
orbrix-bot, the Telegram control bot on its own.")

# Each package's copyright (the licence) and changelogs, where Debian puts
# them: CHANGELOG.md as the upstream changelog, and the packaging's own,
# dated as the release's entry in CHANGELOG.md (which must have one).
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md _changelog)
string(REPLACE "." "\\." _version_re "${PROJECT_VERSION}")
if(NOT _changelog MATCHES "\n## \\[${_version_re}\\] - ([0-9]+)-([0-9]+)-([0-9]+)")
  message(FATAL_ERROR "CHANGELOG.md has no entry '## [${PROJECT_VERSION}] - YYYY-MM-DD'")
endif()
execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_1}-${CMAKE_MATCH_2}-${CMAKE_MATCH_3}"
                OUTPUT_VARIABLE ORBRIX_RELEASE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u +%s -d "${CMAKE_MATCH_1}-${CMAKE_MATCH_2}-${CMAKE_MATCH_3}"
                OUTPUT_VARIABLE ORBRIX_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in
               ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
foreach(_log IN ITEMS changelog.Debian CHANGELOG.md)
  if(_log STREQUAL "CHANGELOG.md")
    set(_from ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
    set(_to ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  else()
    set(_from ${PROJECT_BINARY_DIR}/packaging/changelog.Debian)
    set(_to ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
  endif()
  execute_process(COMMAND gzip -9nc ${_from} OUTPUT_FILE ${_to} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} _upper)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${_upper}_PACKAGE_NAME}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
# Manual pages of the programs, made from their --help by help2man (when it
# is installed; scripts/bootstrap installs it).
find_program(ORBRIX_HELP2MAN help2man)
if(ORBRIX_HELP2MAN)
  set(_pages)
  foreach(program_and_summary IN ITEMS
          "orbrix-demo|a small engine trading over the simulated CQGCEL"
          "orbrix-backtest|an engine run over recorded history, with its report"
          "orbrix-bot|the Telegram control bot on its own")
    string(REPLACE "|" ";" _pair "${program_and_summary}")
    list(GET _pair 0 _program)
    list(GET _pair 1 _summary)
    if(NOT TARGET ${_program})
      continue()
    endif()
    set(_page ${PROJECT_BINARY_DIR}/man/${_program}.1.gz)
    add_custom_command(OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ORBRIX_RELEASE_EPOCH} ${ORBRIX_HELP2MAN} --no-info --no-discard-stderr
              -n "${_summary}" -o ${PROJECT_BINARY_DIR}/man/${_program}.1 $<TARGET_FILE:${_program}>
      COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${_program}.1
      DEPENDS ${_program} VERBATIM)
    list(APPEND _pages ${_page})
  endforeach()
  add_custom_target(orbrix_man_pages ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()
include(CPack)
