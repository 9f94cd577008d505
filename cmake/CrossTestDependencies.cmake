# Test-only dependencies of a cross build.  Debian's cross toolchain brings no
# GoogleTest and no zlib for the target, and its multiarch packages do not
# install next to the host's reliably.  GoogleTest is therefore built from
# Debian's source package (/usr/src/googletest, installed with libgtest-dev),
# and zlib, which the tests use only as an Adler-32 oracle, is replaced by a
# stand-in of that one call.  The find_package() calls of tests/ are redirected
# to both.

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # The test programs are listed and run through the emulator.
  message(FATAL_ERROR "No emulator for the target's test programs: install qemu-user "
                      "(qemu-arm), or configure with -DORVA_BUILD_TESTS=OFF")
endif()

set(ORVA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources built for the target when cross-compiling")
if(NOT EXISTS ${ORVA_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ORVA_GOOGLETEST_SOURCE}: "
                      "install libgtest-dev and libgmock-dev")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Third-party code is built with its own warning flags, not with -Werror.
get_directory_property(orva_saved_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${ORVA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${orva_saved_compile_options}")
# GoogleTest's own targets already carry the GTest:: aliases the tests link.
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake
     "# GoogleTest is built from source inside this cross build.\n")

add_library(orva_zlib_oracle STATIC ${CMAKE_CURRENT_LIST_DIR}/zlib-oracle/adler32.c)
target_include_directories(orva_zlib_oracle PUBLIC ${CMAKE_CURRENT_LIST_DIR}/zlib-oracle)
add_library(ZLIB::ZLIB ALIAS orva_zlib_oracle)
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/zlib-config.cmake
     "# The tests' Adler-32 oracle stands in for zlib in this cross build.\n")

# Adjustments of the test programs, once tests/ is added:
# - They start orvaflash-sim as a child.  An ARM program under qemu-user
#   cannot exec another ARM program (the host kernel does not know the
#   format), but it can exec a host shell script, so they are given a launcher
#   that runs orvaflash-sim under the emulator.
# - The cross compiler (GCC 12, 32-bit target) reports out-of-bounds reads and
#   writes inside libstdc++'s inlined vector code that are not there; test
#   code is spared those diagnostics, product code keeps them.
function(orva_adapt_tests_for_cross_build)
  set(launcher ${CMAKE_BINARY_DIR}/orvaflash-sim-emulated)
  if(TARGET orvaflash-sim)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    file(GENERATE OUTPUT ${launcher}
         CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:orvaflash-sim>\" \"$@\"\n"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
  # tests/support is added beside tests/, for the benchmarks and fuzz targets too.
  set(directories ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/tests/support)
  while(directories)
    list(POP_FRONT directories directory)
    get_directory_property(subdirectories DIRECTORY ${directory} SUBDIRECTORIES)
    list(APPEND directories ${subdirectories})
    get_directory_property(targets DIRECTORY ${directory} BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      # The child-process runner the end-to-end tests share is a library.
      if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY)$")
        continue()
      endif()
      target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-array-bounds;-Wno-stringop-overread;-Wno-stringop-overflow>)
      get_target_property(definitions ${target} COMPILE_DEFINITIONS)
      if(definitions)
        string(REPLACE "ORVAFLASH_SIM=\"$<TARGET_FILE:orvaflash-sim>\"" "ORVAFLASH_SIM=\"${launcher}\""
               definitions "${definitions}")
        set_target_properties(${target} PROPERTIES COMPILE_DEFINITIONS "${definitions}")
      endif()
    endforeach()
  endwhile()
endfunction()
