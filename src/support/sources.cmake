list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/exception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/random.cpp
)
