# Fully static programs for the receiver's own userland: Linux 2.6.19, where
# none of the cross toolchain's shared libraries exist, on musl, whose futexes
# and newer calls fall back to what that kernel has (the toolchain file
# static/musl/arm-linux-musleabi.cmake; preset arm-static).
if(NOT ORVA_MUSL_LIB)
  message(FATAL_ERROR "ORVA_STATIC builds on musl: configure with the preset arm-static "
    "(toolchain file static/musl/arm-linux-musleabi.cmake)")
endif()
# The product throws nothing and asks no object its type: without exception
# tables and type records it needs no C++ run-time at all, so a C application
# links liborva_api.a with the C library alone.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions> $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)

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
