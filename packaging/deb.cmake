# The Debian package of the Linux program: its documentation in Debian's layout (the copyright
# file, the changelog and the manual page, gzipped without a time stamp) and its control fields.
# Included by the top-level CMakeLists.txt after the program's own install rules.

set(PAGEHOP_DEB_MAINTAINER "the pagehop developers <maintainers@users.noreply.c-seed-e345806f.example>")
set(PAGEHOP_DEB_DIR ${CMAKE_BINARY_DIR}/deb)
find_program(PAGEHOP_GZIP gzip REQUIRED)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/changelog ${CMAKE_SOURCE_DIR}/LICENSE)

# Writes TEXT to FILE unless FILE already holds it, so that a new configure run rebuilds nothing.
function(pagehop_write_if_changed file text)
  if(EXISTS ${file})
    file(READ ${file} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE ${file} "${text}")
endfunction()

# The machine-readable copyright file, made from LICENSE: its copyright line, and the licence
# text from its first paragraph on, each line indented by one space and empty lines as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
string(FIND "${license}" "Permission is hereby granted" start)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n" OR start LESS 0)
  message(FATAL_ERROR "LICENSE is not the Expat licence with a line 'Copyright (c) YEAR HOLDER'")
endif()
set(PAGEHOP_COPYRIGHT ${CMAKE_MATCH_1})
string(SUBSTRING "${license}" ${start} -1 body)
string(STRIP "${body}" body)
string(REPLACE "\n\n" "\n.\n" body "${body}")
string(REPLACE "\n" "\n " PAGEHOP_LICENSE_BODY " ${body}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${PAGEHOP_DEB_DIR}/copyright @ONLY)

# The changelog of a native package, newest entry first: a package carries the entries from its
# own version down, so the package of edition v0.1 starts at 0.1.
file(READ ${CMAKE_CURRENT_LIST_DIR}/changelog changelog)
string(FIND "${changelog}" "pagehop (${PAGEHOP_PACKAGE_VERSION}) " start)
if(start LESS 0)
  message(FATAL_ERROR "packaging/changelog has no entry for version ${PAGEHOP_PACKAGE_VERSION}")
endif()
string(SUBSTRING "${changelog}" ${start} -1 changelog)
pagehop_write_if_changed(${PAGEHOP_DEB_DIR}/changelog "${changelog}")

# Debian wants both gzipped at the highest level and without the name and time stamp that gzip
# otherwise stores, which would make every build's package differ.
set(PAGEHOP_DEB_GZIPPED)
foreach(source IN ITEMS ${PAGEHOP_DEB_DIR}/changelog ${CMAKE_SOURCE_DIR}/man/pagehop.1)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${PAGEHOP_DEB_DIR}/gz/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PAGEHOP_DEB_DIR}/gz/${name}
    COMMAND ${PAGEHOP_GZIP} -9 -n -f ${PAGEHOP_DEB_DIR}/gz/${name}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND PAGEHOP_DEB_GZIPPED ${PAGEHOP_DEB_DIR}/gz/${name}.gz)
endforeach()
add_custom_target(pagehop_deb_docs ALL DEPENDS ${PAGEHOP_DEB_GZIPPED})

install(FILES ${PAGEHOP_DEB_DIR}/gz/pagehop.1.gz DESTINATION share/man/man1)
install(FILES ${PAGEHOP_DEB_DIR}/copyright ${PAGEHOP_DEB_DIR}/gz/changelog.gz
  DESTINATION share/doc/pagehop)

# Stripping leaves the compilers' version notes (.comment) in the program; Debian's own
# packaging takes them out, and so does this.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/$<TARGET_FILE_NAME:pagehop>\"
    COMMAND_ERROR_IS_FATAL ANY)
endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PAGEHOP_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends from what the program really links: dpkg-shlibdeps gives libc6 with the lowest
# version whose symbols it uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(PAGEHOP_DEB_RENAME_MODE "")
if(PAGEHOP_PACKAGE_VERSION VERSION_GREATER_EQUAL 0.2)
  set(PAGEHOP_DEB_RENAME_MODE "\n
With \"pagehop -r\" it renames instead: each page is deleted once its .php
copy has been written out completely.")
endif()
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
pagehop turns a folder of static web pages into PHP pages. Run in a folder,
it writes beside every *.html page a .php page of the same base name, with
each \".html\" in its lines replaced by \".php\", so that the links between the
pages point at the new pages, and echoes each changed line to the console.
The pages themselves are left as they are.${PAGEHOP_DEB_RENAME_MODE}

Pages that are not UTF-8 are copied byte for byte; only their line ends
change. The program needs nothing but the C library.")
