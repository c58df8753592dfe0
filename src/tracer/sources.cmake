list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/lane_kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wall_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wall_clusters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tracer.cpp
)
