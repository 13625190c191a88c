# Installation in the standard prefixes and the Debian package (cpack in the
# build folder makes oriel_VERSION_ARCH.deb).
#
# Installed: oriel and oriel-cli (with oriel-cli's thumbnailer module), the icon in the hicolor theme, the desktop
# entry, the AppStream metainfo, the manual pages and the bash completion.
# oriel-synth is not installed: it writes made-up browser caches for tests,
# and has no place on an examiner's machine, where such files could be
# mistaken for evidence.
include(GNUInstallDirs)

set(ORIEL_APP_ID org.oriel.Oriel)
set(ORIEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS oriel oriel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# oriel-cli's thumbnailer, loaded for a report (found from the folder of
# oriel-cli: ../LIBDIR/oriel).
install(TARGETS oriel-thumbnailer LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/oriel)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/oriel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${ORIEL_PACKAGING_DIR}/${ORIEL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ORIEL_PACKAGING_DIR}/${ORIEL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian keeps manual pages compressed (gzip -9n: no name, no time stamp).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
foreach(page oriel.1 oriel-cli.1)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${GZIP_EXECUTABLE} -9nc ${ORIEL_PACKAGING_DIR}/man/${page} > ${compressed}
    DEPENDS ${ORIEL_PACKAGING_DIR}/man/${page} VERBATIM)
  list(APPEND ORIEL_MAN_PAGES ${compressed})
endforeach()
add_custom_target(oriel_man_pages ALL DEPENDS ${ORIEL_MAN_PAGES})
install(FILES ${ORIEL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Where bash-completion looks, by the command's name.
set(ORIEL_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${ORIEL_PACKAGING_DIR}/bash-completion/oriel-cli DESTINATION ${ORIEL_COMPLETIONS_DIR})

# Debian's copyright file and a compressed changelog, as policy asks.
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${GZIP_EXECUTABLE} -9nc ${ORIEL_PACKAGING_DIR}/changelog > ${changelog}
  DEPENDS ${ORIEL_PACKAGING_DIR}/changelog VERBATIM)
add_custom_target(oriel_changelog ALL DEPENDS ${changelog})
install(FILES ${ORIEL_PACKAGING_DIR}/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/oriel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oriel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Oriel developers <oriel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for the disk caches of old web browsers")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Oriel reads the disk caches of Internet Explorer (index.dat), Netscape 4
(cache.db, fat.db), Mozilla and Firefox up to 31 (_CACHE_MAP_) and Opera
(dcache4.url) and shows every cached object: its URL, the file that holds
it, its size and MIME type, its dates, the stored HTTP headers and the body.
.
It examines Windows systems that are not running (a mounted disk or image,
a copied profile tree, or one cache folder) and only reads them. The
package holds the window, oriel, and the command-line tool oriel-cli.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # oriel_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The icon theme, and Qt's SVG plugin that draws the icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ewf-tools, ntfs-3g, bash-completion")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders owned by the package are 0755, as Debian wants.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
