# Installable decoder drivers: drivers.ini lookup, dlopen of the driver library
# and the DriverProc message calls. platform/driver_api.h is the C interface a
# driver library exports (the drivers include it alone).
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUOR_DRIVER_INIH REQUIRED IMPORTED_TARGET inih)

add_library(quor_platform_driver STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Driver.cpp)
target_include_directories(quor_platform_driver PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quor_platform_driver PUBLIC quor_platform_core PRIVATE PkgConfig::QUOR_DRIVER_INIH)
