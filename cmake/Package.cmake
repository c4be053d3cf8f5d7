# What `cmake --install` puts on a machine, and the Debian package made from it with CPack
# (`cpack -G DEB` in the build folder, or ./package). Only the program and what it needs at run
# time are installed; tests and benchmarks are not.

include(GNUInstallDirs)

# The desktop's name for Tessaly: the menu entry, the icon and the AppStream data share it.
set(TESSALY_APP_ID "jp.tessaly.Tessaly")
# Where the screenshots of docs/ are published, for software centres that show them.
set(TESSALY_SCREENSHOT_URL "https://tessaly.jp/docs" CACHE STRING
    "Web address of the folder that holds the screenshots named in the AppStream data")

set(_desktop ${PROJECT_SOURCE_DIR}/app/desktop)
set(_generated ${PROJECT_BINARY_DIR}/desktop)
file(MAKE_DIRECTORY ${_generated})
configure_file(${_desktop}/${TESSALY_APP_ID}.metainfo.xml.in
               ${_generated}/${TESSALY_APP_ID}.metainfo.xml @ONLY)

# Debian wants the manual page and the changelog compressed, reproducibly (no name, no time).
configure_file(${_desktop}/changelog.Debian.in ${_generated}/changelog.Debian @ONLY)
foreach(_pair "${_desktop}/tessaly.1;tessaly.1.gz" "${_generated}/changelog.Debian;changelog.Debian.gz")
  list(GET _pair 0 _source)
  list(GET _pair 1 _target)
  execute_process(COMMAND gzip -9 -n -c ${_source}
                  OUTPUT_FILE ${_generated}/${_target} COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_source})
endforeach()

install(TARGETS tessaly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_desktop}/${TESSALY_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_desktop}/tessaly.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TESSALY_APP_ID}.svg)
install(FILES ${_generated}/${TESSALY_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_generated}/tessaly.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/tessaly)
install(FILES ${_desktop}/copyright ${_generated}/changelog.Debian.gz DESTINATION ${_docdir})
# The user guide with the pictures it shows, side by side as in docs/.
file(GLOB _pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide-ja.md ${_pictures} DESTINATION ${_docdir})

# Installing builds nothing: the package is made from the program as built (./package and the
# package test build it first), not by building every test and benchmark on the way.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tessaly developers")
set(CPACK_PACKAGE_CONTACT "The Tessaly developers <tessaly@tessaly.jp>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not a library dependency, but without a Japanese font every text shows as boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send a circular mail in Japanese, one message per recipient")
# CPack indents the lines of the long description and writes the empty line as " .".
set(CPACK_PACKAGE_DESCRIPTION "Tessaly sends small circular mails in Japanese. One mail (a Subject and a
body) is written, its recipients gathered (typed, read from a file of
addresses, or taken from an address book of groups and members), and the
send opens one SMTP connection and sends a separate ISO-2022-JP message to
each recipient, so that every recipient sees only their own address.

Each copy can begin with the addressee's name and an honorific, a signature
can be added, a notify copy can go to a fixed address, and every recipient
sent is written to a send log with its own viewer. The user guide is in
Japanese.")
include(CPack)
