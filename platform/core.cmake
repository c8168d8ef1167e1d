add_library(quor_platform_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Ticks.cpp)
target_include_directories(quor_platform_core PUBLIC ${CMAKE_SOURCE_DIR})
