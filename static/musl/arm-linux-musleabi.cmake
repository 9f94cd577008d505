# The receiver's ARM (EABI, soft float, Linux 2.6.19) with a C library that
# still runs on that kernel: Debian's cross compiler (g++-arm-linux-gnueabi)
# over Debian's musl for armel (musl-dev:armel), every program linked fully
# static.  The cross compiler's own C library (glibc 2.36) needs futex
# operations of Linux 2.6.28; musl falls back when the kernel lacks them.
#
# C++ compiles with libstdc++'s headers ahead of musl's and libstdcxx-musl.h
# (beside this file) read first, and links libsupc++: operator new, static
# locals, exceptions and type information.  The rest of libstdc++ (strings,
# streams, threads, files) was built for glibc; a program links it by naming
# stdc++ among its libraries.
#
# Also shipped in the static tarball (share/orvaflash/musl/), where it builds
# receiver applications against the tarball's lib/liborva_api.a.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ORVA_DEBIAN_ARCHITECTURE armel)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(ORVA_MUSL_INCLUDE /usr/include/arm-linux-musleabi)
set(ORVA_MUSL_LIB /usr/lib/arm-linux-musleabi)
if(NOT EXISTS ${ORVA_MUSL_LIB}/libc.a)
  message(FATAL_ERROR "musl for armel is missing: dpkg --add-architecture armel && apt-get update && apt-get install musl-dev:armel")
endif()

# The compiler's own directory (libgcc, libsupc++, crtbegin/crtend, its
# headers) and libstdc++'s header directories, which the compiler searches
# before its own: -nostdinc drops them along with glibc's.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE ORVA_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(ORVA_GCC_DIR ${ORVA_LIBGCC} DIRECTORY)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v -
  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE search)
string(REPLACE "\n" ";" search "${search}")
set(cxx_include "")
foreach(line ${search})
  if(line MATCHES "^ (.*/c\\+\\+/[0-9]+(/[a-z0-9_-]+/\\.)?)$")
    get_filename_component(dir ${CMAKE_MATCH_1} REALPATH)
    string(APPEND cxx_include " -isystem ${dir}")
  endif()
endforeach()

# Each function and datum in its own section, and the link keeps only what
# is reached: most of a static C library is never called, and libstdc++'s
# members carry glibc-only references (arc4random) in functions nobody calls.
set(sections "-ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${sections} -nostdinc -isystem ${ORVA_GCC_DIR}/include -isystem ${ORVA_MUSL_INCLUDE}")
# GCC notes on every std::vector of small structs that their passing changed
# in GCC 7.1; everything here is built by one compiler, so they say nothing.
set(CMAKE_CXX_FLAGS_INIT
  "${sections} -nostdinc${cxx_include} -isystem ${ORVA_GCC_DIR}/include -isystem ${ORVA_MUSL_INCLUDE} -include ${CMAKE_CURRENT_LIST_DIR}/libstdcxx-musl.h -Wno-psabi")

# musl's start files and libraries in place of the compiler's defaults, which
# are glibc's; musl's libc.a holds libm and libpthread too.  The shared
# library the project also builds (the static tarball leaves it out) links
# musl's libc.so.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -nostdlib -L${ORVA_MUSL_LIB} -Wl,--gc-sections")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-nostdlib -L${ORVA_MUSL_LIB}")
set(CMAKE_C_STANDARD_LIBRARIES "-lc ${ORVA_LIBGCC}")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lc ${ORVA_LIBGCC}")
set(start "${ORVA_MUSL_LIB}/crt1.o ${ORVA_MUSL_LIB}/crti.o ${ORVA_GCC_DIR}/crtbeginT.o")
set(end "-Wl,--start-group ${ORVA_GCC_DIR}/libsupc++.a -lc ${ORVA_LIBGCC} ${ORVA_GCC_DIR}/libgcc_eh.a -Wl,--end-group ${ORVA_GCC_DIR}/crtend.o ${ORVA_MUSL_LIB}/crtn.o")
foreach(language C CXX)
  set(CMAKE_${language}_LINK_EXECUTABLE
    "<CMAKE_${language}_COMPILER> <FLAGS> <CMAKE_${language}_LINK_FLAGS> <LINK_FLAGS> ${start} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${end}")
endforeach()

# Libraries and headers are found in the tarball this file came in (when it
# did: lib/liborva_api.a, include/orva_api/), never on the build machine.
get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/../../.. ABSOLUTE)
if(EXISTS ${root}/lib/liborva_api.a)
  set(CMAKE_FIND_ROOT_PATH ${root})
else()
  set(CMAKE_FIND_ROOT_PATH ${ORVA_MUSL_LIB})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ORVA_QEMU_ARM qemu-arm)
if(ORVA_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVA_QEMU_ARM})
endif()
