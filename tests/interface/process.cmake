zm_add_test(test_process ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp)

# Readers written elsewhere (Python's wave module, sndfile-info when present)
# must agree with the files that ZM_process writes.
add_executable(test_process_driver ${CMAKE_CURRENT_LIST_DIR}/process_driver.cpp)
target_link_libraries(test_process_driver PRIVATE zm_core zm_test_common)
# The readers run natively on the files; in the Windows test build the Linux
# run already covers them.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME test_process_outside_reader
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/process_wave_check.py
                   $<TARGET_FILE:test_process_driver>
                   ${CMAKE_CURRENT_BINARY_DIR}/process_outside_reader)
endif()
