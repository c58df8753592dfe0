zm_add_test(test_impulse_render
  ${CMAKE_CURRENT_LIST_DIR}/fft_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shift_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dither_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wave_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_test.cpp
)
