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

# The Debian package: installable with `apt install ./orbrix-cqg_*.deb`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbrix-cqg)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "orbrix")
set(CPACK_PACKAGE_CONTACT "orbrix developers <dev@orbrix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CQG gateway modules for trading engines (C++ libraries, headers and the Python module)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Runtime libraries by dpkg-shlibdeps; what the headers and the CMake
# package need, and the interpreter the module was built for, by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libhowardhinnant-date-dev, libfmt-dev, tzdata")
if(TARGET orbrix_cqg)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, \
python3 (>= ${ORBRIX_PYTHON_VERSION}), python3 (<< ${ORBRIX_PYTHON_NEXT_VERSION})")
endif()
# Libraries of this build found by dpkg-shlibdeps in the package itself.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
