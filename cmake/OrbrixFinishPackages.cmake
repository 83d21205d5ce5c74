# Run by CPack once the packages are made, to finish them as Debian's own:
#  - its -dbgsym packages (.ddeb) list their files in md5sums by the staging
#    folder's absolute path and carry no documentation: each gets relative
#    checksums and, as Debian's own -dbgsym packages do, a documentation
#    folder pointing to that of the package whose symbols it holds;
#  - a package refreshing the linker cache by dpkg's ldconfig trigger
#    (DEBIAN/triggers) loses the postinst and postrm calling ldconfig that
#    CPack writes for every package of shared libraries.
function(orbrix_rebuild package root)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/usr/*")
  set(sums "")
  foreach(f IN LISTS files)
    if(NOT IS_SYMLINK "${root}/${f}")
      file(MD5 "${root}/${f}" sum)
      string(APPEND sums "${sum}  ${f}\n")
    endif()
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${sums}")
  file(CHMOD "${root}/DEBIAN/md5sums" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${root}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(root "${package}.root")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  if(package MATCHES "\\.ddeb$")
    execute_process(COMMAND dpkg-deb -f "${package}" Package OUTPUT_VARIABLE name
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "-dbgsym$" "" base "${name}")
    file(MAKE_DIRECTORY "${root}/usr/share/doc")
    file(CREATE_LINK "${base}" "${root}/usr/share/doc/${name}" SYMBOLIC)
    orbrix_rebuild("${package}" "${root}")
  elseif(EXISTS "${root}/DEBIAN/triggers")
    file(STRINGS "${root}/DEBIAN/triggers" triggers)
    if(triggers MATCHES "ldconfig")
      file(REMOVE "${root}/DEBIAN/postinst" "${root}/DEBIAN/postrm")
      orbrix_rebuild("${package}" "${root}")
    endif()
  endif()
  file(REMOVE_RECURSE "${root}")
endforeach()
