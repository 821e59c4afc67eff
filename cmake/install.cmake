# Installed like a Linux program: the executables in bin, the guide in
# share/vistrel (an installed program copies it into the user's data folder,
# see src/core/program_folder.h), a menu entry and its icon; and a Debian
# package of all that through CPack (cpack -G DEB in the build folder).
include(GNUInstallDirs)

foreach(_program vistrel vistrel-cli vistrel-tileserver)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/data/ReadMe.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/vistrel)
install(FILES ${PROJECT_SOURCE_DIR}/data/vistrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/vistrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(_size 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/vistrel-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME vistrel.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION 2.0.0)
set(CPACK_PACKAGE_VENDOR "Vistrel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer and downloader of satellite imagery tiles")
set(CPACK_PACKAGE_CONTACT "Vistrel developers <vistrel@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The libraries the programs link (Qt, libcurl, libjpeg-turbo, libzip) come
# from dpkg-shlibdeps; the rest are what they need at run time besides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, ca-certificates")
# cpack stops before packaging when the tools shlibdeps needs are missing,
# and removes a package whose Depends lack any of these libraries.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-tools.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-depends.cmake)
set(CPACK_VISTREL_REQUIRED_DEPENDS libc6 libstdc libcurl libqt6core6 libqt6gui6 libqt6widgets6
                                   libzip libturbojpeg)
include(CPack)
