# Resource streams: the TResource family and RscOpen.
list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/resource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/binary_buffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/binary_file.cpp
)
