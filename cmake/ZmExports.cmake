# Reads cmake/exports.txt into ZM_EXPORTS and writes the linker inputs that
# restrict the shared library to those names: a version script for ELF
# targets and a .def file for Windows.

set(ZM_EXPORTS_FILE ${CMAKE_CURRENT_LIST_DIR}/exports.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZM_EXPORTS_FILE})

file(STRINGS ${ZM_EXPORTS_FILE} _zm_lines)
set(ZM_EXPORTS)
foreach(_line IN LISTS _zm_lines)
  string(STRIP "${_line}" _line)
  if(_line STREQUAL "" OR _line MATCHES "^#")
    continue()
  endif()
  list(APPEND ZM_EXPORTS ${_line})
endforeach()

set(ZM_VERSION_SCRIPT ${CMAKE_BINARY_DIR}/zm.map)
set(ZM_DEF_FILE ${CMAKE_BINARY_DIR}/zm.def)

# Everything not listed is local, which also keeps template instances and
# runtime symbols pulled in from static archives out of the dynamic table.
set(_map "{\n  global:\n")
set(_def "LIBRARY zm.dll\nEXPORTS\n")
foreach(_name IN LISTS ZM_EXPORTS)
  string(APPEND _map "    ${_name};\n")
  string(APPEND _def "  ${_name}\n")
endforeach()
string(APPEND _map "  local:\n    *;\n};\n")
file(CONFIGURE OUTPUT ${ZM_VERSION_SCRIPT} CONTENT "${_map}")
file(CONFIGURE OUTPUT ${ZM_DEF_FILE} CONTENT "${_def}")

# Restricts `target` (a shared library) to the listed exports.
function(zm_restrict_exports target)
  if(WIN32)
    # The .def names the undecorated exports; --exclude-libs keeps anything
    # the static runtime marks for export out of the table.
    target_link_options(${target} PRIVATE ${ZM_DEF_FILE} -Wl,--exclude-libs,ALL)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZM_DEF_FILE})
  elseif(NOT APPLE)
    target_link_options(${target} PRIVATE -Wl,--version-script=${ZM_VERSION_SCRIPT})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZM_VERSION_SCRIPT})
  endif()
endfunction()
