# Installing kelvar the way a Linux game is laid out:
#   games/kelvar                    the launcher: starts the game in its data folder
#   libexec/kelvar/kelvar           the game itself, reading its files from where it runs
#   share/kelvar/                   kelvar.in and the seven pictures
#   share/applications, metainfo, icons/hicolor, man/man6, doc/kelvar
# Every path is relative to the prefix, so --prefix and DESTDIR both hold.
include(GNUInstallDirs)

# Debian's games go to /usr/games (on every user's PATH there); other
# systems may want bin.
set(KELVAR_INSTALL_LAUNCHERDIR games CACHE STRING "Folder of the kelvar launcher, under the prefix")
set(KELVAR_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/kelvar)
set(KELVAR_INSTALL_GAMEDIR ${CMAKE_INSTALL_LIBEXECDIR}/kelvar)
set(KELVAR_APP_ID org.kelvar.kelvar)
set(KELVAR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS kelvar RUNTIME DESTINATION ${KELVAR_INSTALL_GAMEDIR})
# Relocations resolved at start-up, so they can be made read-only.
target_link_options(kelvar PRIVATE "LINKER:-z,relro,-z,now")
install(FILES ${KELVAR_ART_FILES} ${PROJECT_SOURCE_DIR}/data/kelvar.in
  DESTINATION ${KELVAR_INSTALL_DATADIR})

# The launcher finds the game and its data relative to its own folder.
file(RELATIVE_PATH KELVAR_LAUNCHER_TO_GAME /${KELVAR_INSTALL_LAUNCHERDIR} /${KELVAR_INSTALL_GAMEDIR}/kelvar)
file(RELATIVE_PATH KELVAR_LAUNCHER_TO_DATA /${KELVAR_INSTALL_LAUNCHERDIR} /${KELVAR_INSTALL_DATADIR})
configure_file(${KELVAR_PACKAGING_DIR}/kelvar.sh.in ${PROJECT_BINARY_DIR}/packaging/kelvar @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/kelvar DESTINATION ${KELVAR_INSTALL_LAUNCHERDIR})

# Desktop entry, AppStream metainfo and icons.
# The desktop entry names the launcher by its full path (GIO hides an entry
# whose command is not on PATH, and /usr/games is not everywhere): the
# package's /usr/games/kelvar, rewritten at install time for another prefix
# or launcher folder.
install(CODE "
  set(launcher \"\${CMAKE_INSTALL_PREFIX}/${KELVAR_INSTALL_LAUNCHERDIR}/kelvar\")
  file(READ \"${KELVAR_PACKAGING_DIR}/${KELVAR_APP_ID}.desktop\" entry)
  string(REPLACE \"Exec=/usr/games/kelvar\" \"Exec=\${launcher}\" entry \"\${entry}\")
  set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/${KELVAR_APP_ID}.desktop\")
  message(STATUS \"Installing: \${target}\")
  file(WRITE \"\${target}\" \"\${entry}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")
")
install(FILES ${KELVAR_PACKAGING_DIR}/${KELVAR_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
if(KELVAR_ICON_FILES)
  foreach(size IN LISTS KELVAR_ICON_SIZES)
    install(FILES ${PROJECT_BINARY_DIR}/icons/${size}/kelvar.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# The manual page and the changelog, compressed as Debian wants them.
find_program(KELVAR_GZIP gzip)
set(KELVAR_DOCS_DIR ${PROJECT_BINARY_DIR}/packaging)
if(KELVAR_GZIP)
  add_custom_command(
    OUTPUT ${KELVAR_DOCS_DIR}/kelvar.6.gz ${KELVAR_DOCS_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${KELVAR_PACKAGING_DIR}/kelvar.6 ${KELVAR_DOCS_DIR}/kelvar.6
    COMMAND ${CMAKE_COMMAND} -E copy ${KELVAR_PACKAGING_DIR}/changelog ${KELVAR_DOCS_DIR}/changelog
    COMMAND ${KELVAR_GZIP} -9nf ${KELVAR_DOCS_DIR}/kelvar.6 ${KELVAR_DOCS_DIR}/changelog
    DEPENDS ${KELVAR_PACKAGING_DIR}/kelvar.6 ${KELVAR_PACKAGING_DIR}/changelog
    COMMENT "Compressing the manual page and the changelog")
  add_custom_target(kelvar-docs ALL
    DEPENDS ${KELVAR_DOCS_DIR}/kelvar.6.gz ${KELVAR_DOCS_DIR}/changelog.gz)
  install(FILES ${KELVAR_DOCS_DIR}/kelvar.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
  install(FILES ${KELVAR_DOCS_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${KELVAR_PACKAGING_DIR}/kelvar.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
  install(FILES ${KELVAR_PACKAGING_DIR}/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${KELVAR_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME kelvar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kelvar developers")
set(CPACK_PACKAGE_CONTACT "kelvar developers <kelvar@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "chess game against the computer")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The console host's libraries are linked, so the shared-library
# dependencies name them; the seat's manager is libseat's own dependency
# (logind, or seatd). Neither the console nor the window needs Mesa.
# logind lets a user take the console's session only when polkit says so
# (a minimal system has none, and the game falls back to the terminal).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "polkitd | policykit-1")
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kelvar is a single-player chess game. You play Black against the computer
on a 640x480 board in a window, moving with the mouse or with the arrow keys
and the space bar. The computer answers with a six-ply alpha-beta search and
shows its progress while it thinks. There is no castling, no en passant and
no draw rule.
.
Without a desktop (over ssh, on a server, on the Linux console) the board is
drawn in the terminal the game was started from, in sixels, kitty graphics or
coloured block symbols. KELVAR_DISPLAY=window or KELVAR_DISPLAY=terminal
picks one of the two. Given a file, kelvar plays from the start position in
it.")
include(CPack)
