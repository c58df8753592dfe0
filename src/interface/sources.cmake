list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/error_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fast_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_jobs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process.cpp
)
