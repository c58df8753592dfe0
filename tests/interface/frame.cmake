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

# The shared library loaded at run time, as a host does. Windows finds
# zm.dll by name in the working directory; elsewhere the full path is used.
add_executable(test_shared_library shared_library_test.cpp)
target_include_directories(test_shared_library PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(test_shared_library PRIVATE GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
add_dependencies(test_shared_library zm)
if(WIN32)
  target_compile_definitions(test_shared_library PRIVATE ZM_TEST_LIBRARY="$<TARGET_FILE_NAME:zm>")
else()
  target_compile_definitions(test_shared_library PRIVATE ZM_TEST_LIBRARY="$<TARGET_FILE:zm>")
endif()
add_test(NAME test_shared_library COMMAND test_shared_library
  WORKING_DIRECTORY $<TARGET_FILE_DIR:zm>)
