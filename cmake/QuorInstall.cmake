# Where `cmake --install` and the Debian packages put things. The packages
# are built with the prefix /usr (see QuorPackaging.cmake); the paths below
# are what the part folders' install() lines name.
#
# Every install() line names the package it belongs to as its COMPONENT:
#   server    quorvod-server    the application server and its service
#   terminal  quorvod-terminal  the room terminal's program folder, kiosk session
#   tools     quorvod-tools     catalogue import, load client, demo builder
# A line without COMPONENT lands in tools, so that a new tool needs nothing
# but its own `install(TARGETS <program>)`.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME tools)

# The terminal reads VODSet.ini, drivers.ini, libdsengine.so, the driver
# libraries and Photo/ from the folder of its executable, so they all live in
# one private program folder. The two INI files there are links to the
# configuration under /etc/quorvod.
# lib/, not the multiarch library folder: this is a program folder.
set(QUOR_INSTALL_TERMINAL_DIR lib/quorvod)
# Helper programs that nobody starts by hand (the server's start script, the
# kiosk session).
set(QUOR_INSTALL_LIBEXEC_DIR ${CMAKE_INSTALL_LIBEXECDIR}/quorvod)
# The venue's configuration. Always /etc for the packages, whatever the prefix.
set(QUOR_INSTALL_CONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quorvod)
