# The receiver's ARM (EABI, soft float, Linux), with Debian's cross compiler
# (g++-arm-linux-gnueabi).  Programs built here run on the build machine under
# qemu-arm (qemu-user), with the cross compiler's C library as the sysroot, so
# ctest runs the ARM test suite as it is.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ORVA_TARGET_TRIPLE arm-linux-gnueabi)
set(ORVA_TARGET_SYSROOT /usr/${ORVA_TARGET_TRIPLE})

set(CMAKE_C_COMPILER ${ORVA_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ORVA_TARGET_TRIPLE}-g++)

# Libraries, headers and packages come from the target's trees only (the
# cross C library, and any staged tree added with -DCMAKE_FIND_ROOT_PATH): a
# host library found by mistake would fail to link, or worse, link.
list(APPEND CMAKE_FIND_ROOT_PATH ${ORVA_TARGET_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ORVA_QEMU_ARM qemu-arm)
if(ORVA_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVA_QEMU_ARM} -L ${ORVA_TARGET_SYSROOT})
endif()

# The Debian package's architecture for this ABI.
set(ORVA_DEBIAN_ARCHITECTURE armel)

# GCC notes on every std::vector of small structs that their passing changed
# in GCC 7.1; everything here is built by one compiler, so they say nothing.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
