zm_add_test(test_process ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp)
