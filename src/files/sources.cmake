# Resource streams and the file formats built on them.
include(${CMAKE_CURRENT_LIST_DIR}/streams.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/formats.cmake)
