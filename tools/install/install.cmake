# Installation and the Debian package: the program, the headless scorer, a launcher that starts
# the program in the user's song library folder (made from the demo library on first use), the
# desktop entry with the program's icon, and the demo library.
include(GNUInstallDirs)

install(TARGETS quorvel quorvel-score RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/quorvel-launch DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quorvel-128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME quorvel.png)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvel/demo
        PATTERN "README.md" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "Quorvel")
set(CPACK_PACKAGE_CONTACT "Quorvel developers <quorvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Karaoke singing trainer: sing along and get a score for every line")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The fonts and the history's SQLite driver are loaded at run time, so shlibdeps cannot see them.
# (The window platforms, X11 and offscreen, come with libqt6gui6, which shlibdeps finds.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-wqy-zenhei, fonts-arphic-ukai, fonts-liberation2, libqt6sql6-sqlite")
include(CPack)
