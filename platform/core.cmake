# Layers with no Qt and no X11, usable by every part (the server and the
# drivers included).
add_library(quor_platform_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EngineRegistry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Guid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Share.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SharedLibrary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Ticks.cpp)
target_include_directories(quor_platform_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quor_platform_core PUBLIC ${CMAKE_DL_LIBS})
