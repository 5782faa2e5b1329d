# Where `cmake --install` puts the station on a Linux desktop (GNUInstallDirs), and the Debian
# package CPack builds from it:
#   cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
#         -DQUOR_BUILD_TESTS=OFF -DQUOR_BUILD_BENCH=OFF
#   cmake --build build-package && (cd build-package && cpack)
# Included from the top-level CMakeLists.txt after the station's targets.
include(GNUInstallDirs)

set(QUOR_APP_ID org.quorbus.Station)
set(QUOR_RELEASE_DATE 2026-12-08)  # of PROJECT_VERSION; the metainfo and the manual page show it
set(QUOR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QUOR_PACKAGING_BINARY_DIR ${PROJECT_BINARY_DIR}/packaging)
# The simulated chassis as a VISA library is loaded by path (--visa), never linked against: it
# sits in the package's own folder, outside the linker's search path.
set(QUOR_SIM_VISA_DIR ${CMAKE_INSTALL_LIBDIR}/quor-station)
set(QUOR_FULL_SIM_VISA_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/quor-station)

install(TARGETS quor_station RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quor_sim_visa
        LIBRARY DESTINATION ${QUOR_SIM_VISA_DIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${QUOR_PACKAGING_DIR}/${QUOR_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUOR_PACKAGING_DIR}/icons/${QUOR_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG sizes, rendered from the SVG by scripts/render-icons.sh.
install(DIRECTORY ${QUOR_PACKAGING_DIR}/icons/hicolor/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
        FILES_MATCHING PATTERN "${QUOR_APP_ID}.png")

configure_file(${QUOR_PACKAGING_DIR}/${QUOR_APP_ID}.metainfo.xml.in
               ${QUOR_PACKAGING_BINARY_DIR}/${QUOR_APP_ID}.metainfo.xml @ONLY)
install(FILES ${QUOR_PACKAGING_BINARY_DIR}/${QUOR_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page: its template with the options made from the station's table of options
# (tools/option_docs), compressed as Debian keeps them where gzip is at hand.
configure_file(${QUOR_PACKAGING_DIR}/quor_station.1.in
               ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.template @ONLY)
add_custom_command(
  OUTPUT ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1
  COMMAND option_docs manual ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.template
          ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1
  DEPENDS option_docs ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.template
  COMMENT "Making the manual page"
  VERBATIM)
add_custom_target(quor_manual_page_text ALL DEPENDS ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1)
find_program(QUOR_GZIP gzip)
if(QUOR_GZIP)
  add_custom_command(
    OUTPUT ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.gz
    COMMAND ${QUOR_GZIP} -9 -n -c ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1
            > ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.gz
    DEPENDS ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(quor_manual_page ALL DEPENDS ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.gz)
  install(FILES ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${QUOR_PACKAGING_BINARY_DIR}/quor_station.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The package's copyright file and its changelog, compressed as Debian keeps a native package's.
set(QUOR_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quor-station)
install(FILES ${QUOR_PACKAGING_DIR}/copyright DESTINATION ${QUOR_DOC_DIR})
configure_file(${QUOR_PACKAGING_DIR}/changelog.in ${QUOR_PACKAGING_BINARY_DIR}/changelog @ONLY)
if(QUOR_GZIP)
  add_custom_command(
    OUTPUT ${QUOR_PACKAGING_BINARY_DIR}/changelog.gz
    COMMAND ${QUOR_GZIP} -9 -n -c ${QUOR_PACKAGING_BINARY_DIR}/changelog
            > ${QUOR_PACKAGING_BINARY_DIR}/changelog.gz
    DEPENDS ${QUOR_PACKAGING_BINARY_DIR}/changelog
    COMMENT "Compressing the changelog"
    VERBATIM)
  add_custom_target(quor_changelog ALL DEPENDS ${QUOR_PACKAGING_BINARY_DIR}/changelog.gz)
  install(FILES ${QUOR_PACKAGING_BINARY_DIR}/changelog.gz DESTINATION ${QUOR_DOC_DIR})
else()
  install(FILES ${QUOR_PACKAGING_BINARY_DIR}/changelog DESTINATION ${QUOR_DOC_DIR})
endif()

# The Debian package: quor-station_VERSION_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quor-station)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quor Bus")
set(CPACK_PACKAGE_CONTACT "Quor Bus station team <station@quorbus.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Final test and calibration station for Quor Bus VXI modules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The production final-test and calibration station for the Quor Bus VXI
module: the operator console, the Quor Bus driver over VISA, the functional
bus tests, the production tests and the output calibration. It loads an
installed vendor VISA library at run time and otherwise runs on a built-in
simulated chassis.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link are found by dpkg-shlibdeps; what Qt loads as plugins is named
# here: the SQLite driver of the run records, and the Wayland platform where a desktop runs one
# (the X11 platform comes with libqt6gui6).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
