list(APPEND ZM_SOURCES
  # Resource streams: the TResource family and RscOpen.
  ${CMAKE_CURRENT_LIST_DIR}/resource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/binary_buffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/binary_file.cpp
  # The file formats built on them.
  ${CMAKE_CURRENT_LIST_DIR}/hrc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/design_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/material_file.cpp
)
