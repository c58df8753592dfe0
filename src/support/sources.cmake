list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/exception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/random.cpp
  ${CMAKE_CURRENT_LIST_DIR}/simd_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread_count.cpp
)
