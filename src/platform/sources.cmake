# The operating-system file layer under the resource streams: one
# implementation per system, behind platform/file_layer.h.
if(WIN32)
  list(APPEND ZM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/win32_file.cpp)
else()
  list(APPEND ZM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_file.cpp)
endif()
