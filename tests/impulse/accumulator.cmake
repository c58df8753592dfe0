zm_add_test(test_impulse_accumulator
  ${CMAKE_CURRENT_LIST_DIR}/accumulator_test.cpp
)
