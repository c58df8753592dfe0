list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/hrc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/design_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/material_file.cpp
)
