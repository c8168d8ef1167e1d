# Private-profile (INI) reading on libinih: quor_platform_profile.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUOR_INIH REQUIRED IMPORTED_TARGET inih)
add_library(quor_platform_profile STATIC ${CMAKE_CURRENT_LIST_DIR}/Profile.cpp)
target_include_directories(quor_platform_profile PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quor_platform_profile PUBLIC PkgConfig::QUOR_INIH)
