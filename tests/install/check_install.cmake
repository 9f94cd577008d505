# Run by ctest (see CMakeLists.txt): install the build into a scratch prefix
# and link a C application against it in the ways a receiver application's
# build would.  Fails with the first thing that does not hold.

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RunChecked.cmake)

function(expect_installed path)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endfunction()

# The ELF machine field: the application must be built for the tool's target.
function(elf_machine file out)
  file(READ ${file} header OFFSET 18 LIMIT 2 HEX)
  set(${out} ${header} PARENT_SCOPE)
endfunction()

# The dynamic section names the shared libraries a program needs.
function(expect_needs_shared_api program expected)
  file(STRINGS ${program} needed REGEX "^liborva_api\\.so")
  if(expected AND NOT needed)
    message(FATAL_ERROR "${program} does not load liborva_api.so")
  elseif(NOT expected AND needed)
    message(FATAL_ERROR "${program} was to link the static library but loads ${needed}")
  endif()
  elf_machine(${program} machine)
  if(NOT machine STREQUAL TOOL_MACHINE)
    message(FATAL_ERROR "${program} is built for ELF machine ${machine}, the tool for ${TOOL_MACHINE}")
  endif()
endfunction()

set(PREFIX ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
elf_machine(${TOOL} TOOL_MACHINE)

# What is shipped, and what is not.
expect_installed(bin/orvaflash)
expect_installed(share/man/man1/orvaflash.1)
file(GLOB public_headers RELATIVE ${APP_DIR}/../../../api/include ${APP_DIR}/../../../api/include/*.h)
foreach(header API.h ${public_headers})
  expect_installed(include/orva_api/${header})
endforeach()
foreach(file liborva_api.a liborva_api.so cmake/orva_api/orva_apiConfig.cmake
             cmake/orva_api/orva_apiConfigVersion.cmake pkgconfig/orva_api.pc)
  expect_installed(${LIBDIR}/${file})
endforeach()
file(GLOB_RECURSE unexpected ${PREFIX}/*sim* ${PREFIX}/*gtest* ${PREFIX}/*gmock* ${PREFIX}/*test*)
if(unexpected)
  message(FATAL_ERROR "test or simulation files installed: ${unexpected}")
endif()

# The CMake package.  A cross build finds packages only below its root paths:
# the scratch prefix is one more.
set(app_build ${WORK_DIR}/app-cmake)
set(configure ${CMAKE_COMMAND} -S ${APP_DIR} -B ${app_build} -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(TOOLCHAIN_FILE)
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_FIND_ROOT_PATH=${PREFIX})
else()
  list(APPEND configure -DCMAKE_PREFIX_PATH=${PREFIX})
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${app_build})
expect_needs_shared_api(${app_build}/receiver_app_shared TRUE)
expect_needs_shared_api(${app_build}/receiver_app_static FALSE)

# pkg-config, from this prefix only.  For the static link the archive is named
# where pkg-config puts -lorva_api, so the link proves that the private
# libraries it lists complete it.
set(ENV{PKG_CONFIG_LIBDIR} ${PREFIX}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
foreach(kind shared static)
  set(query --cflags --libs)
  if(kind STREQUAL static)
    list(PREPEND query --static)
  endif()
  execute_process(COMMAND ${PKG_CONFIG} ${query} orva_api RESULT_VARIABLE result
                  OUTPUT_VARIABLE flags ERROR_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config ${query} orva_api failed: ${flags}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  if(kind STREQUAL static)
    list(TRANSFORM flags REPLACE "^-lorva_api$" "-l:liborva_api.a")
  endif()
  set(program ${WORK_DIR}/receiver_app_pc_${kind})
  run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror ${c_flags} ${APP_DIR}/receiver_app.c ${flags} ${linker_flags}
      -o ${program})
  if(kind STREQUAL shared)
    expect_needs_shared_api(${program} TRUE)
  else()
    expect_needs_shared_api(${program} FALSE)
  endif()
endforeach()
message(STATUS "installed tree usable from CMake and pkg-config, shared and static")
