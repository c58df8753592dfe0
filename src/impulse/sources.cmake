# Accumulating arrivals, and rendering them to the output file.
include(${CMAKE_CURRENT_LIST_DIR}/accumulator.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/render.cmake)
