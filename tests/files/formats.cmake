# Block compression, design files and material files.
zm_add_test(test_formats
  ${CMAKE_CURRENT_LIST_DIR}/hrc_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/design_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/material_file_test.cpp
)
