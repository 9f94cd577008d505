# The API reference (Doxygen, from api/include), installed with the libraries
# under share/doc.  Skipped when Doxygen is missing.
option(ORVA_BUILD_API_DOC "Build the device API's reference with Doxygen" ON)
find_package(Doxygen QUIET)
if(ORVA_BUILD_API_DOC AND DOXYGEN_FOUND)
  include(GNUInstallDirs)
  set(ORVA_API_DOC_DIR ${CMAKE_BINARY_DIR}/api_doc)
  configure_file(${PROJECT_SOURCE_DIR}/api/doc/Doxyfile.in ${ORVA_API_DOC_DIR}/Doxyfile @ONLY)
  file(GLOB ORVA_API_DOC_INPUTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/api/include/*.h)
  add_custom_command(OUTPUT ${ORVA_API_DOC_DIR}/html/index.html
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${ORVA_API_DOC_DIR}/html
    COMMAND Doxygen::doxygen ${ORVA_API_DOC_DIR}/Doxyfile
    DEPENDS ${ORVA_API_DOC_INPUTS} ${PROJECT_SOURCE_DIR}/api/doc/mainpage.md ${ORVA_API_DOC_DIR}/Doxyfile
    COMMENT "The device API's reference")
  add_custom_target(api_doc ALL DEPENDS ${ORVA_API_DOC_DIR}/html/index.html)
  install(DIRECTORY ${ORVA_API_DOC_DIR}/html/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/api)
endif()
