# Run by CPack after it installs the components into its staging folders:
# the static libraries keep their symbols but lose their debug sections, as
# Debian strips them (the shared objects CPack strips itself, into -dbgsym).
file(GLOB_RECURSE _archives "${CPACK_TEMPORARY_DIRECTORY}/*.a")
foreach(archive IN LISTS _archives)
  execute_process(COMMAND strip --strip-debug --enable-deterministic-archives "${archive}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
