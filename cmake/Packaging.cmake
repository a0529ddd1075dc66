# Desktop integration files and the Debian package.
# The executables install themselves (app/, tools/); this adds what a desktop needs to list
# and launch the program, the manual pages, and the CPack settings for "cpack -G DEB".

set(ORMIX_APPSTREAM_ID "org.example.ormix")

install(FILES ${PROJECT_SOURCE_DIR}/res/ormix.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/ormix.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
    RENAME ${ORMIX_APPSTREAM_ID}.metainfo.xml)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/48x48/apps/ormix.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/scalable/apps/ormix.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ormix)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/ormix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET ormix-read-dashboard)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/man/ormix-read-dashboard.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME ormix)
set(CPACK_PACKAGE_VENDOR "Ormix developers")
set(CPACK_PACKAGE_VERSION ${ORMIX_VERSION_TEXT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Logs in to a hosted blog's web administration, reloads the owner's dashboard on a \
timer, shows today's visitor count in an always-on-top strip and announces new comments, \
trackbacks and guestbook entries with a notice that opens them in the web browser.")
if(ORMIX_UPDATE_URL)
    set(CPACK_PACKAGE_HOMEPAGE_URL "${ORMIX_UPDATE_URL}")
endif()
set(CPACK_PACKAGE_CONTACT "Ormix developers <ormix@example.org>")
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; these are loaded at run time, not linked:
# Qt's xcb platform plugin and a Korean face to stand in for "돋움" (Dotum), the face the
# windows ask for, which Debian does not ship.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-nanum")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
