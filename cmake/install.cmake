# What `cmake --install` puts where, and the packages cpack makes of it:
# a .deb on Linux, a .zip on Windows.

# The package's maintainer is the project, not a person.
set(FSRESTORE_MAINTAINER "fsrestore developers <fsrestore@example.invalid>")
if(WIN32)
  # The zip is unpacked by hand: the program, the README and the licence
  # side by side.
  install(TARGETS fsrestore RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  # The changelog's one entry is this version, dated with its release day.
  execute_process(COMMAND date -u -R -d "${FSRESTORE_RELEASE_DATE} 00:00:00"
                  OUTPUT_VARIABLE FSRESTORE_RELEASE_STAMP OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  configure_file(cmake/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog @ONLY)
  # Man pages and the changelog are installed compressed, as Debian wants
  # them; -n leaves out the name and time, so the same sources give the same
  # bytes.
  find_program(FSRESTORE_GZIP gzip REQUIRED)
  set(compressed)
  foreach(file man/fsrestore.1 man/mkdump.1 doc/changelog)
    set(plain ${CMAKE_CURRENT_BINARY_DIR}/${file})
    add_custom_command(OUTPUT ${plain}.gz COMMAND ${FSRESTORE_GZIP} -9nkf ${plain} DEPENDS ${plain} VERBATIM)
    list(APPEND compressed ${plain}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  install(TARGETS fsrestore mkdump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/fsrestore.1.gz ${CMAKE_CURRENT_BINARY_DIR}/man/mkdump.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/fsrestore DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES README.md ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME fsrestore)
set(CPACK_PACKAGE_VENDOR "the fsrestore developers")
set(CPACK_PACKAGE_CONTACT "${FSRESTORE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # bash loads the completion through bash-completion only.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
  # The first line of the field is the summary, which cpack puts there.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "fsrestore recreates every directory and file of a dump (node, name and\ncontent streams) under a target directory; mkdump writes such a dump.")
endif()
include(CPack)
