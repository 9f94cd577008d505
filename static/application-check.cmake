# cmake -DBUILD=<arm-static build> -DWORK=<scratch> -P application-check.cmake
#
# Stages the static tarball's tree from BUILD and builds receiver
# applications against it as an engineer would: the example in C with Debian's
# musl wrapper (the C library and libgcc only, so the API may need no C++
# run-time), and with the tarball's toolchain file the same example and a C++
# program that links the rest of libstdc++.  Each runs under qemu-arm.
cmake_minimum_required(VERSION 3.25)
set(root ${WORK}/root)
file(REMOVE_RECURSE ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
endfunction()

function(expect status text)
  execute_process(COMMAND qemu-arm -cpu arm926 -r 2.6.19 ${ARGN}
    RESULT_VARIABLE got OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT got STREQUAL status OR NOT out MATCHES "${text}")
    message(FATAL_ERROR "${ARGN}: status ${got}, wanted ${status}; output:\n${out}")
  endif()
  message(STATUS "${ARGN}: status ${got}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${root})
run(${CMAKE_COMMAND} -DCPACK_TEMPORARY_INSTALL_DIRECTORY=${root}
  -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/StaticPackageContents.cmake)
set(example ${root}/share/orvaflash/examples/api_startup.c)

run(arm-linux-musleabi-gcc -static -Os -I${root}/include/orva_api ${example}
  ${root}/lib/liborva_api.a -o ${WORK}/api_startup-gcc)
expect(2 "usage: api_startup" ${WORK}/api_startup-gcc -h)

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/application -B ${WORK}/build
  -DCMAKE_TOOLCHAIN_FILE=${root}/share/orvaflash/musl/arm-linux-musleabi.cmake
  -DCMAKE_BUILD_TYPE=MinSizeRel -DEXAMPLE=${example})
run(${CMAKE_COMMAND} --build ${WORK}/build)
expect(2 "usage: api_startup" ${WORK}/build/api_startup -h)
expect(0 "^No Error\n" ${WORK}/build/error_texts)
