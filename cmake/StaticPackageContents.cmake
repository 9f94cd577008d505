# CPack runs this on the staged tree of the static tarball before packing it:
# the receiver gets the static tool, its manual page, the static API library
# with its headers, the example application and what builds another one on
# musl.  The shared library and the CMake and pkg-config descriptions (which
# name the shared library) stay out.
file(GLOB_RECURSE staged RELATIVE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
foreach(file ${staged})
  if(NOT file MATCHES "^(bin/orvaflash|share/man/man1/orvaflash\\.1|lib/liborva_api\\.a|include/orva_api/.*\\.h|share/orvaflash/(examples|musl)/.*)$")
    file(REMOVE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${file})
  endif()
endforeach()
file(GLOB_RECURSE directories LIST_DIRECTORIES true RELATIVE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
list(SORT directories ORDER DESCENDING)  # the deepest first
foreach(directory ${directories})
  file(GLOB left ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${directory}/*)
  if(IS_DIRECTORY ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${directory} AND NOT left)
    file(REMOVE_RECURSE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${directory})
  endif()
endforeach()
