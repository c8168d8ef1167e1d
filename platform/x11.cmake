# Layers over the X window system: quor_platform_x11.
#   Display      the display mode (XRandR), best effort
#   ScreenSaver  the screen-saver decision + suspension (XScreenSaver, DPMS)
#   HotKeys      system-wide remote-control keys (XGrabKey) and the window-key fallback
# Every call is silent without an X display, so tests and the offscreen
# platform run them unchanged.
find_package(X11 REQUIRED)
add_library(quor_platform_x11 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HotKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScreenSaver.cpp)
target_include_directories(quor_platform_x11 PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quor_platform_x11 PRIVATE X11::X11 X11::Xrandr X11::Xss X11::Xext)
