# Install rules and packages: a Debian package on Linux, a zip for Windows.
# Everything that ships belongs to the component "varnicle", and the packages
# take that component only, so nothing a test or tool dependency might install
# ends up in them.
include(GNUInstallDirs)

set(packaging_dir ${CMAKE_CURRENT_LIST_DIR})

if(WIN32)
  # The operator unpacks the zip and runs the program from that folder, where
  # it also finds the sample readers.ini (read from the working directory).
  configure_file(${packaging_dir}/readers.ini ${CMAKE_BINARY_DIR}/packaging/readers.ini
                 @ONLY NEWLINE_STYLE WIN32)
  install(TARGETS varnicle RUNTIME DESTINATION . COMPONENT varnicle)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/readers.ini ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION . COMPONENT varnicle)
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
  install(TARGETS varnicle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT varnicle)
  install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT varnicle)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT varnicle)
  install(FILES ${packaging_dir}/readers.ini DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT varnicle)
endif()

set(CPACK_PACKAGE_NAME varnicle)
set(CPACK_PACKAGE_VENDOR "varnicle")
set(CPACK_PACKAGE_CONTACT "varnicle maintainers <varnicle@localhost>")
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
