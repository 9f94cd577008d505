# What `cmake --install` puts on the receiver (or into a package): the tool,
# its manual page, and the device API with its headers, CMake package and
# pkg-config file.  The tool and the libraries install from their own
# directories; this adds the package descriptions and the Debian package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVA_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orva_api)
install(EXPORT orva_api NAMESPACE orva:: FILE orva_apiTargets.cmake DESTINATION ${ORVA_CMAKE_PACKAGE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/orva_apiConfig.cmake.in
               ${CMAKE_CURRENT_BINARY_DIR}/orva_apiConfig.cmake @ONLY)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/orva_apiConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orva_apiConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/orva_apiConfigVersion.cmake
        DESTINATION ${ORVA_CMAKE_PACKAGE_DIR})

# The pkg-config file finds its prefix from where it lies, so the installed
# tree can be moved (a staging prefix, a package root) and stay usable.
file(RELATIVE_PATH ORVA_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ORVA_PC_PREFIX_FROM_PCDIR "${ORVA_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/orva_api.pc.in ${CMAKE_CURRENT_BINARY_DIR}/orva_api.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orva_api.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/man/orvaflash.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# `cpack` in a build directory makes the Debian package of that build's
# target (armel in the arm preset).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvaflash)
set(CPACK_PACKAGE_VENDOR "orvaflash maintainers")
set(CPACK_PACKAGE_CONTACT "orvaflash maintainers <maintainers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "UHF radio firmware loader and device API of the GNSS receiver")
set(CPACK_PACKAGE_DESCRIPTION
    "orvaflash writes a new firmware image into the receiver's internal UHF radio over the radio's serial bootloader. The package also carries the receiver's device API, shared and static, with its headers, CMake package (find_package(orva_api)) and pkg-config file (orva_api).")
set(CPACK_DEBIAN_PACKAGE_SECTION embedded)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(DEFINED ORVA_DEBIAN_ARCHITECTURE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ORVA_DEBIAN_ARCHITECTURE})
endif()
# dpkg-shlibdeps cannot see a cross toolchain's libraries, so the run-time
# dependencies are stated: the libraries the tool and the shared API load,
# at the versions their newest symbols ask for (GLIBC_2.34, GLIBCXX_3.4.11).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1, libstdc++6 (>= 4.4)")
set(CPACK_STRIP_FILES TRUE)
# A host build packs the simulator for application developers instead: the
# `sim` install component (orva-sim, the simulated library, the headers, the
# pkg-config file, the manual page, the API reference and the examples).
if(NOT CMAKE_CROSSCOMPILING)
  set(CPACK_PACKAGE_NAME orva-sim)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};sim;/")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Simulated GNSS receiver that runs device API applications on a PC")
  set(CPACK_PACKAGE_DESCRIPTION
      "orva-sim runs a program linked against the receiver's device API (liborva_api.so) on a simulated receiver: a simulated build of the library brings up sandboxed board paths, device models and serial peers before main, writes a report and the device logs at exit, and saves pictures of the display. The package also carries the API's headers, pkg-config file and reference for building such programs, and example applications with scenarios; the library they link is the simulated one.")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1, libstdc++6 (>= 9)")
  if(PNG_FOUND)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libpng16-16")
  endif()
  # The simulated library links the live page's server; Debian names the
  # package by the library's version (libcpp-httplib0.11).
  if(HTTPLIB_FOUND)
    string(REGEX MATCH "^[0-9]+\\.[0-9]+" ORVA_HTTPLIB_ABI "${HTTPLIB_VERSION}")
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libcpp-httplib${ORVA_HTTPLIB_ABI}")
  endif()
  if(GIF_FOUND)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libgif7")
  endif()
  if(yaml-cpp_FOUND)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libyaml-cpp0.7")
  endif()
endif()
include(CPack)
