# The date headers for the Windows cross build. There is no time zone
# database for Windows here (the library's tz.cpp is not packaged), so the
# target carries the headers only; code that looks a zone up does not run on
# Windows.
if(NOT TARGET date::date-tz)
  add_library(date::date-tz INTERFACE IMPORTED)
  set_target_properties(date::date-tz PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${ORBRIX_HOST_HEADERS}")
endif()
set(date_FOUND TRUE)
