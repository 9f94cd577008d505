# What a build of the device API offers applications: the operations declared
# in api/include, and nothing else.  Every unit keeps its state in plain
# process-wide names (`selection`, `device_state`, `norfd`); an application
# that happens to use one of them must neither fail to link against the
# archive nor replace the library's variable through the shared object.
#
# orva_api_exported_library(<target>)   shared object: version script
# orva_api_local_archive(<target> <object library>...)
#                                       archive of one relocatable object in
#                                       which every other name is file-local
#
# Both read the one list below; a shared or static build of the API made
# elsewhere (the simulated one included) uses the same two functions.

# Names, or wildcards, of every exported symbol.  The Parts give applications
# no variable: all they reach is through these operations.
set(ORVA_API_EXPORTS
  "API_*"                  # every operation of every unit
  MyStrStr                 # the answer search the GSM and Bluetooth units share
  s_BluetoothSendCmd       # the Bluetooth module's raw command entry
  writeLogFile             # the serial log's writer
  create_config_file       # configuration file and device nodes
  make_device_descriptors
  SIGUSR2_handler          # the drivers' signals, for an application that
  SIGIO_handler)           # installs its own handlers and chains to these
# The version node every symbol of this major number carries.  A symbol added
# later goes into a new node that inherits this one (see CONTRIBUTING.md).
set(ORVA_API_VERSION_NODE ORVA_API_0)

set(ORVA_API_EXPORTS_DIR ${CMAKE_BINARY_DIR}/api_exports)
set(ORVA_API_VERSION_SCRIPT ${ORVA_API_EXPORTS_DIR}/liborva_api.map)
set(ORVA_API_KEEP_LIST ${ORVA_API_EXPORTS_DIR}/liborva_api.keep)
set(_orva_api_script "${ORVA_API_VERSION_NODE} {\n  global:\n")
foreach(name ${ORVA_API_EXPORTS})
  string(APPEND _orva_api_script "    ${name};\n")
endforeach()
string(APPEND _orva_api_script "  local:\n    *;\n};\n")
list(JOIN ORVA_API_EXPORTS "\n" _orva_api_keep)
file(CONFIGURE OUTPUT ${ORVA_API_VERSION_SCRIPT} CONTENT "${_orva_api_script}")
file(CONFIGURE OUTPUT ${ORVA_API_KEEP_LIST} CONTENT "${_orva_api_keep}\n")

# Hidden by default: only the declarations of api/include, which ask for
# default visibility, reach the dynamic symbol table, and calls inside the
# library need no indirection.
function(orva_api_hidden_by_default)
  set_target_properties(${ARGN} PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

function(orva_api_exported_library target)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${ORVA_API_VERSION_SCRIPT}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ORVA_API_VERSION_SCRIPT})
endfunction()

# The objects are linked into one relocatable object and every defined name
# that is not exported is made local to it.  Weak definitions stay global:
# they are the C++ inline and template copies that any C++ program may hold
# too (the linker keeps one of them), never a C name.
function(orva_api_local_archive target)
  set(merged ${CMAKE_CURRENT_BINARY_DIR}/${target}_local.o)
  set(objects)
  foreach(library ${ARGN})
    list(APPEND objects "$<TARGET_OBJECTS:${library}>")
  endforeach()
  add_custom_command(OUTPUT ${merged}
    COMMAND ${CMAKE_COMMAND} -DLINKER=${CMAKE_LINKER} -DOBJCOPY=${CMAKE_OBJCOPY} -DNM=${CMAKE_NM}
            -DKEEP=${ORVA_API_KEEP_LIST} -DOUTPUT=${merged}
            -P ${PROJECT_SOURCE_DIR}/cmake/ApiLocalize.cmake -- ${objects}
    DEPENDS ${ARGN} ${objects} ${ORVA_API_KEEP_LIST} ${PROJECT_SOURCE_DIR}/cmake/ApiLocalize.cmake
    COMMENT "Localizing the internal names of ${target}"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_library(${target} STATIC ${merged})
  set_source_files_properties(${merged} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
endfunction()
