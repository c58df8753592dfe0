zm_add_test(test_streams
  binary_buffer_test.cpp
  binary_file_test.cpp
  resource_test.cpp)
