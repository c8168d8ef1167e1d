# The Debian packages, built by CPack from the install() lines (./ktv package):
#   quorvod-server    component server
#   quorvod-terminal  component terminal
#   quorvod-tools     component tools
# The part folders install their own programs; this file installs what no part
# builds (the service, the settings, the kiosk session, the documentation) and
# describes the packages. Dependencies are found by dpkg-shlibdeps; the few
# added by hand below are what the programs use without linking it.
set(QUOR_PKG ${CMAKE_SOURCE_DIR}/packaging)
set(QUOR_PKG_BUILD ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${QUOR_PKG_BUILD})

# --- Version: the project's, plus the number of commits, so that every later
# build of main installs over an earlier one.
set(QUOR_PACKAGE_VERSION ${PROJECT_VERSION})
set(QUOR_GIT_COMMIT "unknown")
set(QUOR_PACKAGE_DATE "Thu, 01 Jan 2026 00:00:00 +0000")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE commits
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
  if(rc EQUAL 0 AND commits MATCHES "^[0-9]+$")
    set(QUOR_PACKAGE_VERSION ${PROJECT_VERSION}+${commits})
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 "--format=%h%n%aD"
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE head
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE "\n" ";" head "${head}")
    list(GET head 0 QUOR_GIT_COMMIT)
    list(GET head 1 QUOR_PACKAGE_DATE)
  endif()
endif()
set(QUOR_PACKAGE_MAINTAINER "QuorVOD developers <packages@quorvod.example>")

# --- Files that no part folder builds.
install(PROGRAMS ${QUOR_PKG}/server/quorvod-server-start
        DESTINATION ${QUOR_INSTALL_LIBEXEC_DIR} COMPONENT server)
install(FILES ${QUOR_PKG}/server/quorvod-server.service
        DESTINATION /lib/systemd/system COMPONENT server)
install(FILES ${QUOR_PKG}/server/server.conf DESTINATION ${QUOR_INSTALL_CONF_DIR} COMPONENT server)

install(FILES ${QUOR_PKG}/terminal/VODSet.ini DESTINATION ${QUOR_INSTALL_CONF_DIR}
        COMPONENT terminal)
install(PROGRAMS ${QUOR_PKG}/terminal/quorvod-session
        DESTINATION ${QUOR_INSTALL_LIBEXEC_DIR} COMPONENT terminal)
install(FILES ${QUOR_PKG}/terminal/quorvod-kiosk.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/xsessions COMPONENT terminal)

# The terminal reads its two INI files beside its executable: there they are
# links to the configuration in /etc/quorvod. `quorvod` on the PATH is a link
# to the executable (which finds its folder through /proc/self/exe).
set(links ${QUOR_PKG_BUILD}/links)
file(MAKE_DIRECTORY ${links}/program ${links}/bin)
foreach(ini VODSet.ini drivers.ini)
  file(CREATE_LINK ${QUOR_INSTALL_CONF_DIR}/${ini} ${links}/program/${ini} SYMBOLIC)
  install(FILES ${links}/program/${ini} DESTINATION ${QUOR_INSTALL_TERMINAL_DIR}
          COMPONENT terminal)
endforeach()
file(CREATE_LINK ../${QUOR_INSTALL_TERMINAL_DIR}/quorvod ${links}/bin/quorvod SYMBOLIC)
install(FILES ${links}/bin/quorvod DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT terminal)

# --- Documentation: copyright, changelog and guides, compressed as Debian
# wants them (gzip -9n: no name or time stamp, so builds are reproducible).
configure_file(${QUOR_PKG}/changelog.in ${QUOR_PKG_BUILD}/changelog @ONLY)
function(quor_package_doc component package)
  set(dir ${QUOR_PKG_BUILD}/doc/${package})
  file(MAKE_DIRECTORY ${dir})
  set(files ${QUOR_PKG}/copyright)
  foreach(src ${QUOR_PKG_BUILD}/changelog ${ARGN})
    get_filename_component(name ${src} NAME)
    execute_process(COMMAND gzip -9n -c ${src} OUTPUT_FILE ${dir}/${name}.gz
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "gzip ${src} failed")
    endif()
    list(APPEND files ${dir}/${name}.gz)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
  endforeach()
  install(FILES ${files} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
  if(EXISTS ${QUOR_PKG}/lintian/${package})
    install(FILES ${QUOR_PKG}/lintian/${package}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
  endif()
endfunction()
quor_package_doc(server quorvod-server ${CMAKE_SOURCE_DIR}/docs/install.md
                 ${CMAKE_SOURCE_DIR}/docs/server.md)
quor_package_doc(terminal quorvod-terminal ${CMAKE_SOURCE_DIR}/docs/install.md
                 ${CMAKE_SOURCE_DIR}/docs/configuration.md
                 ${CMAKE_SOURCE_DIR}/docs/decoder-drivers.md)
quor_package_doc(tools quorvod-tools ${CMAKE_SOURCE_DIR}/docs/install.md)

# --- The packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvod)
set(CPACK_PACKAGE_VENDOR QuorVOD)
set(CPACK_PACKAGE_VERSION ${QUOR_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUOR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server terminal tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME quorvod-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# The maintainer scripts make the service's user and enable the service.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "mariadb-server")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${QUOR_PKG}/server/postinst ${QUOR_PKG}/server/prerm ${QUOR_PKG}/server/postrm
    ${QUOR_PKG}/server/conffiles)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "karaoke video-on-demand: application server for the room terminals
The room terminals of a karaoke venue ask this server for catalogue rows over
one TCP connection each (port 211) and send it the rooms' service requests.
It runs their statements read-only over an SQLite catalogue or a MariaDB
database, and serves the front desk's web console.
.
This package holds the server, its systemd service (its own user, sandboxed,
the one capability to bind port 211) and its settings in
/etc/quorvod/server.conf.")

set(CPACK_DEBIAN_TERMINAL_PACKAGE_NAME quorvod-terminal)
set(CPACK_DEBIAN_TERMINAL_PACKAGE_SECTION video)
# The screen texts are Chinese: without these fonts they show as boxes.
set(CPACK_DEBIAN_TERMINAL_PACKAGE_DEPENDS "fonts-noto-cjk, mpv")
set(CPACK_DEBIAN_TERMINAL_PACKAGE_RECOMMENDS "x11-xserver-utils")
set(CPACK_DEBIAN_TERMINAL_PACKAGE_SUGGESTS "quorvod-server, lightdm, cifs-utils")
# Own (empty) maintainer scripts: left without, CPack would run ldconfig for
# the private libraries under /usr/lib/quorvod, which it has no business with.
set(CPACK_DEBIAN_TERMINAL_PACKAGE_CONTROL_EXTRA ${QUOR_PKG}/terminal/conffiles
    ${QUOR_PKG}/terminal/postinst ${QUOR_PKG}/terminal/postrm)
set(CPACK_COMPONENT_TERMINAL_DESCRIPTION
    "karaoke video-on-demand: room terminal
The terminal runs on the PC of each karaoke room: one 800x600 window, worked
by touch and by the room's remote control, to find songs in the venue's
catalogue, queue them, play them and call the front desk.
.
This package holds the terminal with its dataset engine, the decoder drivers
(mpv for real playback, a simulator for tests) and a kiosk session that starts
the terminal at login and again whenever it ends. The room's settings are
/etc/quorvod/VODSet.ini and /etc/quorvod/drivers.ini.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quorvod-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# The demo builder draws Chinese names into its pictures and makes its song
# videos with ffmpeg (it can leave the videos out).
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "ffmpeg")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "karaoke video-on-demand: catalogue and test tools
Tools of a karaoke venue running QuorVOD: the import of the venue's song
library into the catalogue, a load client that plays many room terminals
against a server, and the builder of a demo catalogue with singer photos and
song videos.")

include(CPack)
