list(APPEND ZM_SOURCES
  # Accumulating arrivals.
  ${CMAKE_CURRENT_LIST_DIR}/impulse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tap_kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tap_applier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/accumulator.cpp
  # Rendering them to the output file.
  ${CMAKE_CURRENT_LIST_DIR}/fft.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shift.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ditherer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wave_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render.cpp
)
