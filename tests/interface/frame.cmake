zm_add_test(test_interface
  error_frame_test.cpp
  records_test.cpp
  c_header_test.c)
target_include_directories(test_interface PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

# The shared library must define the listed exports and nothing else.
if(NOT WIN32 AND NOT APPLE)
  add_dependencies(test_interface zm)
  add_test(NAME exports_elf
    COMMAND ${CMAKE_COMMAND}
      -DLIBRARY=$<TARGET_FILE:zm>
      -DEXPORTS=${PROJECT_SOURCE_DIR}/cmake/exports.txt
      -DNM=${CMAKE_NM}
      -DREADELF=${CMAKE_READELF}
      -DSOVERSION=${PROJECT_VERSION_MAJOR}
      -P ${PROJECT_SOURCE_DIR}/cmake/CheckElfExports.cmake)
endif()
