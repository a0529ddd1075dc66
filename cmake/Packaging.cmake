# Desktop integration files and the Debian package.
# The executables install themselves (app/, tools/); this adds what a desktop needs to list
# and launch the program, the manual pages, the license and changelog, and the CPack settings
# for "cpack -G DEB".

set(ORMIX_APPSTREAM_ID "org.example.ormix")
set(ORMIX_MAINTAINER "Ormix developers <ormix@example.org>")
set(ormix_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/ormix)
set(ormix_generated ${PROJECT_BINARY_DIR}/packaging)
find_program(ORMIX_GZIP gzip REQUIRED)

# Debian policy wants manual pages and changelogs compressed, reproducibly: "gzip -9n".
function(ormix_gzipped source)
    get_filename_component(name ${source} NAME)
    set(output ${ormix_generated}/gz/${name}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${ormix_generated}/gz/${name}
        COMMAND ${ORMIX_GZIP} -9nf ${ormix_generated}/gz/${name}
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
    set_property(GLOBAL APPEND PROPERTY ORMIX_GZIPPED ${output})
    set(gzipped ${output} PARENT_SCOPE)
endfunction()

# The version and the release's day go into the manual pages, the AppStream release and the
# changelog; the changelog's date is written as Debian wants it (RFC 5322, in English).
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -R -d "${ORMIX_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE ORMIX_RELEASE_DATE_DEBIAN OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/res/ormix.metainfo.xml.in
    ${ormix_generated}/${ORMIX_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog.in ${ormix_generated}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/man/ormix.1.in ${ormix_generated}/ormix.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/man/ormix-read-dashboard.1.in
    ${ormix_generated}/ormix-read-dashboard.1 @ONLY)

# The Debian copyright file carries LICENSE's holder and permission notice in its own format:
# text fields indented by one blank, an empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE ormix_license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" ormix_match "${ormix_license}")
set(ORMIX_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n" "" ormix_notice "${ormix_license}")
string(STRIP "${ormix_notice}" ormix_notice)
string(REPLACE "\n\n" "\n.\n" ormix_notice "${ormix_notice}")
string(REPLACE "\n" "\n " ormix_notice "${ormix_notice}")
set(ORMIX_LICENSE_NOTICE " ${ormix_notice}")
configure_file(${PROJECT_SOURCE_DIR}/res/debian/copyright.in ${ormix_generated}/copyright @ONLY)

install(FILES ${PROJECT_SOURCE_DIR}/res/ormix.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ormix_generated}/${ORMIX_APPSTREAM_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/48x48/apps/ormix.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/scalable/apps/ormix.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${ormix_generated}/copyright
    DESTINATION ${ormix_doc_dir})
ormix_gzipped(${ormix_generated}/changelog)
install(FILES ${gzipped} DESTINATION ${ormix_doc_dir})
ormix_gzipped(${ormix_generated}/ormix.1)
install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET ormix-read-dashboard)
    ormix_gzipped(${ormix_generated}/ormix-read-dashboard.1)
    install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
get_property(ormix_gzipped_files GLOBAL PROPERTY ORMIX_GZIPPED)
add_custom_target(ormix_docs ALL DEPENDS ${ormix_gzipped_files})

set(CPACK_PACKAGE_NAME ormix)
set(CPACK_PACKAGE_VENDOR "Ormix developers")
set(CPACK_PACKAGE_VERSION ${ORMIX_VERSION_TEXT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 characters, as the package's Description field wants them.
set(CPACK_PACKAGE_DESCRIPTION
    "Logs in to a hosted blog's web administration, reloads the owner's dashboard
on a timer, shows today's visitor count in an always-on-top strip and announces
new comments, trackbacks and guestbook entries with a notice that opens them in
the web browser.")
if(ORMIX_UPDATE_URL)
    set(CPACK_PACKAGE_HOMEPAGE_URL "${ORMIX_UPDATE_URL}")
endif()
set(CPACK_PACKAGE_CONTACT "${ORMIX_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; these are loaded at run time, not linked:
# Qt's xcb platform plugin, Qt's own Korean texts, and a Korean face to stand in for "돋움"
# (Dotum), the face the windows ask for, which Debian does not ship.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-nanum")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
