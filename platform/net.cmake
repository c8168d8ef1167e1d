# Sockets and event descriptors: POSIX TCP sockets (client and listening),
# name lookup, poll-based waits, eventfd, error texts. No Qt, no X11.
add_library(quor_platform_net STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EventFd.cpp)
target_include_directories(quor_platform_net PUBLIC ${CMAKE_SOURCE_DIR})
