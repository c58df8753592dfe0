list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/band_shaper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fast_tracer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wall_scan.cpp
)
