# Install rules and packages: a Debian package on Linux, a zip for Windows.
# Everything that ships belongs to the component "varnicle", and the packages
# take that component only, so nothing a test or tool dependency might install
# ends up in them.
include(GNUInstallDirs)

set(packaging_dir ${CMAKE_CURRENT_LIST_DIR})

# The guides that ship in every package: packaging/guides, one a line, the
# file in the repository and its name in the Windows packages.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging_dir}/guides)
file(STRINGS ${packaging_dir}/guides guide_lines REGEX "^[^#]")
set(VARNICLE_GUIDES)
set(VARNICLE_WINDOWS_GUIDES)
foreach(line IN LISTS guide_lines)
  string(REGEX MATCH "^([^ ]+) +([^ ]+)$" matched "${line}")
  if(NOT matched)
    message(FATAL_ERROR "packaging/guides: not 'source windows-name': ${line}")
  endif()
  list(APPEND VARNICLE_GUIDES ${PROJECT_SOURCE_DIR}/${CMAKE_MATCH_1})
  list(APPEND VARNICLE_WINDOWS_GUIDES "${CMAKE_MATCH_2}|${PROJECT_SOURCE_DIR}/${CMAKE_MATCH_1}|ON")
endforeach()

# The texts of the Windows packages, made on every platform so that the
# tests read the very bytes that ship. The zip and the MSI hold the same
# files. The example readers.ini ships under another name, so that unpacking
# or installing a new version never replaces the operator's own readers.ini
# (read from the working directory). Texts get CR LF; the Russian ones also
# a byte order mark, so that Notepad on Windows 7 reads them as UTF-8.
set(windows_texts)
foreach(text "readers.ini.example|${packaging_dir}/readers.ini|ON"
             "LICENSE.txt|${PROJECT_SOURCE_DIR}/LICENSE|OFF"
             ${VARNICLE_WINDOWS_GUIDES})
  string(REPLACE "|" ";" text "${text}")
  list(GET text 0 name)
  list(GET text 1 source)
  list(GET text 2 bom)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${name}
                     COMMAND ${CMAKE_COMMAND} -DIN=${source} -DOUT=${CMAKE_BINARY_DIR}/packaging/${name}
                             -DBOM=${bom} -P ${packaging_dir}/windows-text.cmake
                     DEPENDS ${source} ${packaging_dir}/windows-text.cmake
                     VERBATIM)
  list(APPEND windows_texts ${CMAKE_BINARY_DIR}/packaging/${name})
endforeach()
add_custom_target(varnicle_windows_texts ALL DEPENDS ${windows_texts})

if(WIN32)
  install(TARGETS varnicle RUNTIME DESTINATION . COMPONENT varnicle)
  install(FILES ${windows_texts} DESTINATION . COMPONENT varnicle)
else()
  # Manual pages are installed compressed, as man expects them on Debian. The
  # page's header shows the version as the banner prints it.
  configure_file(${packaging_dir}/varnicle.1 ${CMAKE_BINARY_DIR}/packaging/varnicle.1 @ONLY)
  set(manpage ${CMAKE_BINARY_DIR}/packaging/varnicle.1.gz)
  add_custom_command(OUTPUT ${manpage}
                     COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/packaging/varnicle.1 > ${manpage}
                     DEPENDS ${CMAKE_BINARY_DIR}/packaging/varnicle.1
                     VERBATIM)
  add_custom_target(varnicle_manpage ALL DEPENDS ${manpage})
  # The release ships the program built in the old-base root
  # (packaging/build-oldbase) in place of this build's own.
  set(VARNICLE_SHIPPED_PROGRAM "" CACHE FILEPATH "A varnicle built elsewhere, installed in place of this build's")
  if(VARNICLE_SHIPPED_PROGRAM)
    install(PROGRAMS ${VARNICLE_SHIPPED_PROGRAM} DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME varnicle COMPONENT varnicle)
  else()
    install(TARGETS varnicle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT varnicle)
  endif()
  install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT varnicle)
  # Every guide (packaging/guides) goes into the documentation folder, from
  # where the Debian package and the Linux tarball take them.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${VARNICLE_GUIDES}
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT varnicle)
  install(FILES ${packaging_dir}/readers.ini DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT varnicle)
endif()

set(CPACK_PACKAGE_NAME varnicle)
set(CPACK_PACKAGE_VENDOR "varnicle")
# The Debian package's maintainer (packaging/build-deb reads it from the cache).
set(VARNICLE_MAINTAINER "varnicle maintainers <maintainers@varnicle.example.org>" CACHE STRING
    "Maintainer of the packages: name <address>")
set(CPACK_PACKAGE_CONTACT "${VARNICLE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "checks a smart-card security module through a PC/SC card reader")
set(CPACK_PACKAGE_DESCRIPTION
    "varnicle connects to a PC/SC card reader, identifies the security module in it, runs the key or non-key control and prints the module's serial-number label.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};varnicle;/")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME "varnicle-${PROJECT_VERSION}-win64")
  else()
    set(CPACK_PACKAGE_FILE_NAME "varnicle-${PROJECT_VERSION}-win32")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps (dpkg-dev) finds the shared libraries the program links,
  # the pcsc-lite runtime libpcsclite1 among them; the service it talks to is
  # pcscd.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pcscd")
endif()

include(CPack)
