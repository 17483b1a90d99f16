# `cmake --install` puts the program where a Linux desktop finds it: the
# executable in bin/, the menu entry, the icon and the AppStream metainfo in
# share/. CPack turns the same files into a .deb (scripts/package.sh).
include(GNUInstallDirs)

set(TIDEWELL_APP_ID example.tidewell.Tidewell)
# Made in every build, so the core tests can validate it too.
configure_file(${PROJECT_SOURCE_DIR}/packaging/${TIDEWELL_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${TIDEWELL_APP_ID}.metainfo.xml @ONLY)
if(NOT TARGET tidewell)
  return()
endif()

install(TARGETS tidewell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${TIDEWELL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${TIDEWELL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${TIDEWELL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Packaging installs what was built, not the whole tree with its tests:
# scripts/package.sh builds the program first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewell)
set(CPACK_PACKAGE_VENDOR "The Tidewell developers")
set(CPACK_PACKAGE_CONTACT "The Tidewell developers <dev@tidewell.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "order, shipment and buyer-message manager for eBay sellers")
# The long description only: CPack puts the summary above it. One string
# (a list of lines would be joined with ";").
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "Tidewell downloads your eBay orders, buyer questions and feedback, follows\n"
       "every USPS shipment, sends follow-up messages to buyers, prints postage\n"
       "through DAZzle or WorldShip and issues PayPal refunds. Your data stays in\n"
       "XML files on your computer, backed up every day.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tidewell.example/")
# dpkg-shlibdeps names the Debian packages of every library the program
# links (Qt, libxml2, libxslt, the C++ runtime) with their minimum versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Native windows on a Wayland desktop; X11 (and XWayland) need nothing more.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)
