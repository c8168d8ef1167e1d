option(QUOR_BUILD_TESTS "build the tests" ON)
option(QUOR_BUILD_BENCH "build the benchmarks" ON)
option(QUOR_SANITIZE "build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUOR_FUZZ "build the libFuzzer targets (clang only)" OFF)

add_compile_options(-Wall -Wextra -Wpedantic -Werror)

if(QUOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QUOR_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "QUOR_FUZZ needs clang; the fuzz targets are left out")
  set(QUOR_FUZZ OFF)
endif()

# With the fuzz targets, every library is built with coverage instrumentation
# so that each fuzzer sees the code it drives (our own code, whatever library
# holds it). The sanitizer runtime gives the other programs of this build a
# no-op for each coverage hook.
if(QUOR_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# quor_part_enabled(<part> <out>): whether a folder is part of this build.
function(quor_part_enabled part out)
  if(part IN_LIST QUOR_PARTS AND EXISTS ${CMAKE_SOURCE_DIR}/${part}/CMakeLists.txt)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# quor_add_part_areas(): adds every subfolder of the current folder that has a
# CMakeLists.txt and is named after an enabled part (tests/remote, fuzz/engine…).
function(quor_add_part_areas)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area IN LISTS areas)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${area} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      quor_part_enabled(${area} area_enabled)
      if(area_enabled)
        add_subdirectory(${area})
      endif()
    endif()
  endforeach()
endfunction()
