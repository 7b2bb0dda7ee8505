# The Debian package: `cpack -G DEB` in the build folder makes
# trelvin_<version>_<arch>.deb, installed under /usr. Its own files form the
# install component "Package", left out of a plain `cmake --install`, so the
# runtime folder that scripts/run.sh stages stays as it was.

set(TRELVIN_MAINTAINER "Quenlor <trelvin@quenlor.org>" CACHE STRING
    "Maintainer named in the Debian package (name <address>)")

# Where a system-wide install keeps the information directory; the program
# finds it from /usr/bin as ../share/trelvin/Info (app/folders.cpp).
install(DIRECTORY info/ DESTINATION share/trelvin/Info COMPONENT Package EXCLUDE_FROM_ALL)

# Metadata for software centres, named after its id.
configure_file(packaging/org.quenlor.Trelvin.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/org.quenlor.Trelvin.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/org.quenlor.Trelvin.metainfo.xml
        DESTINATION share/metainfo COMPONENT Package EXCLUDE_FROM_ALL)

# Debian wants the copyright, a change log and a manual page, the last two
# compressed without a time stamp so that builds are reproducible.
configure_file(packaging/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog @ONLY)
set(TRELVIN_GZIPPED)
foreach(source ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog ${CMAKE_CURRENT_SOURCE_DIR}/packaging/Trelvin.1
               ${CMAKE_CURRENT_SOURCE_DIR}/packaging/trelvin-club.1 ${CMAKE_CURRENT_SOURCE_DIR}/packaging/trelvin-web.1)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/packaging/gz/${name})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
        COMMAND gzip -9nf ${copy}
        DEPENDS ${source} VERBATIM)
    list(APPEND TRELVIN_GZIPPED ${copy}.gz)
endforeach()
add_custom_target(trelvin_package_docs ALL DEPENDS ${TRELVIN_GZIPPED})
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/gz/changelog.gz
        DESTINATION share/doc/trelvin COMPONENT Package EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/gz/Trelvin.1.gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/gz/trelvin-club.1.gz
        ${CMAKE_CURRENT_BINARY_DIR}/packaging/gz/trelvin-web.1.gz
        DESTINATION share/man/man1 COMPONENT Package EXCLUDE_FROM_ALL)
# trelvin-web's service, off until the administrator enables it (the package
# runs no maintainer script), its settings and nginx site as examples.
install(FILES packaging/trelvin-web.service DESTINATION /lib/systemd/system COMPONENT Package EXCLUDE_FROM_ALL)
install(FILES packaging/web.conf packaging/nginx-trelvin-web
        DESTINATION share/doc/trelvin/examples COMPONENT Package EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trelvin)
set(CPACK_PACKAGE_VENDOR Quenlor)
set(CPACK_PACKAGE_CONTACT "${TRELVIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "net logging for amateur radio clubs")
set(CPACK_PACKAGE_DESCRIPTION
    "The net control station of an amateur radio club runs and logs its net\n"
    "with Trelvin: type a call sign or part of one, see the station's name,\n"
    "location, bearing, distance, roster membership and check-in history, give\n"
    "it a role and check it in. Every check-in lands in a persistent log.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# Everything the staged runtime folder has except its Programs/ layout, plus
# the package's own files, in one package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified Package)
set(CPACK_DEBIAN_PACKAGE_NAME trelvin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its SQLite driver as a plugin and the forms need fonts with the
# Windows families' widths; dpkg-shlibdeps sees neither.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, fonts-liberation2")
# The club server is optional: without Qt's PostgreSQL driver it says so once.
# QtKeychain reaches the Secret Service through libsecret, which it loads at
# run time; without it the passwords stay in the files, readable by their
# owner only.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, libsecret-1-0")
# trelvin-club sets up the machine's own PostgreSQL and makes its
# certificates with openssl.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql, openssl")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
