# The operating-system file layer under the resource streams: one
# implementation per system, behind platform/file_layer.h, and the test seam
# that can make any of its system calls fail.
list(APPEND ZM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/call_failures.cpp)
if(WIN32)
  list(APPEND ZM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/win32_file.cpp)
else()
  list(APPEND ZM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_file.cpp)
endif()
