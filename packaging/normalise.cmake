# Run by cpack just before and just after it makes each package (CPACK_PRE_BUILD_SCRIPTS and
# CPACK_POST_BUILD_SCRIPTS), so that whoever packages, under whatever umask and time zone, gets
# the same bytes: the archives otherwise keep the packager's modes, user and local time.

if(NOT DEFINED CPACK_PACKAGE_FILES)
  # Before: the staged tree. CMake creates its directories with mkdir, which the umask cuts
  # (CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS cannot widen them), and the archives take every
  # mode from there. Directories and programs become 755, other files 644.
  execute_process(COMMAND chmod -R u=rwX,go=rX ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
    COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

# After: the archives' own headers, which CPack fills from the file system: the .deb's ar members
# carry their modes (the umask's), the zip's entries the packager's uid and gid and a time in the
# local time zone. strip-nondeterminism makes owners 0, modes 755 or 644 as above and every time
# SOURCE_DATE_EPOCH (packaging/source_date.cmake sets it), read in UTC; it also puts the zip's
# entries in the order of their names. Its ar handler is off unless asked for by name.
find_program(PAGEHOP_STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT PAGEHOP_STRIP_NONDETERMINISM)
  message(FATAL_ERROR "strip-nondeterminism not found; without it the package carries the "
    "packager's user, umask and time zone (apt-get install strip-nondeterminism)")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    set(type ar)
  elseif(package MATCHES "\\.zip$")
    set(type zip)
  else()
    message(FATAL_ERROR "no normalisation for ${package}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0 ${PAGEHOP_STRIP_NONDETERMINISM}
      --normalizers=+${type} --type ${type} --timestamp $ENV{SOURCE_DATE_EPOCH} ${package}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
