# Installation (cmake --install) and the Debian package (cpack -G DEB).
#
#   bin/tachora, bin/tachora-cli
#   libexec/tachora/tachora-render (the program behind tachora-cli render)
#   share/applications/org.tachora.Tachora.desktop
#   share/metainfo/org.tachora.Tachora.metainfo.xml
#   share/icons/hicolor/{scalable,48x48,256x256}/apps/org.tachora.Tachora.{svg,png}
#   share/man/man1/tachora.1, tachora-cli.1 (help2man over the programs' --help)
#   share/bash-completion/completions/tachora-cli
#
# Everything else the programs need (language tables, map page, pictures) is
# compiled into them, so an installed copy runs without the source folder.
include(GNUInstallDirs)

set(TACHORA_APP_ID org.tachora.Tachora)
set(TACHORA_HOMEPAGE "https://tachora.org/" CACHE STRING "The program's web page (AppStream file)")
set(desk ${PROJECT_SOURCE_DIR}/resources/desktop)
set(gen ${PROJECT_BINARY_DIR}/desktop)
file(MAKE_DIRECTORY ${gen})

# The AppStream release list comes from the change log's headings
# ("v2.6 | 2026.12.07"), newest first as there.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/WhatsNew.txt release_heads
     REGEX "^v[0-9.]+ \\| [0-9]+\\.[0-9]+\\.[0-9]+")
set(TACHORA_RELEASES "")
foreach(head ${release_heads})
  string(REGEX REPLACE "^v([0-9.]+) \\| ([0-9]+)\\.([0-9]+)\\.([0-9]+).*"
         "    <release version=\"\\1\" date=\"\\2-\\3-\\4\"/>\n" release "${head}")
  string(APPEND TACHORA_RELEASES "${release}")
endforeach()
if(NOT TACHORA_RELEASES MATCHES "version=\"${PROJECT_VERSION_MAJOR}\\.${PROJECT_VERSION_MINOR}\"")
  message(FATAL_ERROR "resources/WhatsNew.txt has no heading for version "
                      "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
configure_file(${desk}/${TACHORA_APP_ID}.metainfo.xml.in ${gen}/${TACHORA_APP_ID}.metainfo.xml
               @ONLY)

# Icons: the SVG as drawn, PNGs rendered from it at build time.
find_program(TACHORA_RSVG rsvg-convert)
find_program(TACHORA_CONVERT convert)
set(icon_svg ${desk}/${TACHORA_APP_ID}.svg)
set(icon_pngs "")
foreach(size 48 256)
  set(png ${gen}/icon-${size}.png)
  if(TACHORA_RSVG)
    set(render ${TACHORA_RSVG} -w ${size} -h ${size} -o ${png} ${icon_svg})
  elseif(TACHORA_CONVERT)
    set(render ${TACHORA_CONVERT} -background none -density 384 ${icon_svg} -resize ${size}x${size}
               ${png})
  else()
    message(FATAL_ERROR "rsvg-convert (librsvg2-bin) or convert (imagemagick) is needed for the icons")
  endif()
  add_custom_command(OUTPUT ${png} COMMAND ${render} DEPENDS ${icon_svg}
                     COMMENT "Rendering the ${size}x${size} icon" VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TACHORA_APP_ID}.png)
endforeach()
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages from the programs' own --help and --version.
find_program(TACHORA_HELP2MAN help2man REQUIRED)
set(man_pages "")
macro(tachora_man_page target name)
  add_custom_command(
    OUTPUT ${gen}/${target}.1
    COMMAND ${TACHORA_HELP2MAN} --no-info --no-discard-stderr --name=${name}
            --include=${desk}/${target}.h2m --output=${gen}/${target}.1 $<TARGET_FILE:${target}>
    DEPENDS ${target} ${desk}/${target}.h2m
    COMMENT "Writing the manual page of ${target}" VERBATIM)
  list(APPEND man_pages ${gen}/${target}.1)
  install(FILES ${gen}/${target}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endmacro()
tachora_man_page(tachora-cli "dash-camera recordings, telemetry and GPS logs on the command line")
install(TARGETS tachora-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tachora-render RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tachora)
install(FILES ${desk}/tachora-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tachora-cli)
if(TACHORA_GUI)
  tachora_man_page(tachora "viewer for dash-camera recordings with their GPS track")
  install(TARGETS tachora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${desk}/${TACHORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${gen}/${TACHORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
add_custom_target(tachora_desktop_files ALL DEPENDS ${icon_pngs} ${man_pages})

# The Debian package: tachora_<version>_<arch>.deb; the libraries' packages
# come from dpkg-shlibdeps, the plugins Qt loads at run time are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tachora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Tachora developers <dev@tachora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for dash-camera recordings with their GPS track")
set(CPACK_PACKAGE_DESCRIPTION
    "Tachora finds the recordings on a dash camera's memory card, joins them into\n"
    "trips and plays them with the route on a map, the speed and the G-sensor\n"
    "graphs. tachora-cli offers the same on the command line.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TACHORA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TACHORA_GUI)
  # The X11/Wayland platform plugins and the SQLite driver of offline map tiles.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite, qml6-module-qtwebengine, qml6-module-qtqml-workerscript")
  # The demo card is made by the ffmpeg program with the DejaVu font.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, fonts-dejavu-core, qt6-translations-l10n")
endif()
include(CPack)

# The README's picture of the main window playing the demo card (under Xvfb;
# not part of "all"): cmake --build build/release --target screenshot
if(TACHORA_GUI)
  add_custom_target(screenshot
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/screenshot.sh $<TARGET_FILE:tachora>
            ${PROJECT_BINARY_DIR}/docs/main-window.png
    DEPENDS tachora
    COMMENT "Taking the main window's screenshot (build/.../docs/main-window.png)" VERBATIM)
endif()
