# Fully static programs for the receiver's own userland: Linux 2.6.19 with the
# C and C++ run-time of its own era, where none of the cross toolchain's
# shared libraries exist.  Each function and datum gets its own section so the
# link keeps only what is reached: most of a static C library is never called.
add_compile_options(-ffunction-sections -fdata-sections)
string(APPEND CMAKE_EXE_LINKER_FLAGS " -static -Wl,--gc-sections")

# The tarball an engineer copies onto the receiver as it is.  Its contents are
# pruned by StaticPackageContents.cmake: the shared library and the package
# descriptions that point at it have no place there.
if(NOT DEFINED ORVA_DEBIAN_ARCHITECTURE)
  set(ORVA_DEBIAN_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME orvaflash-${PROJECT_VERSION}-${ORVA_DEBIAN_ARCHITECTURE}-static)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StaticPackageContents.cmake)

# static/ adds the kernel checks; ctest finds them from the top.
enable_testing()
