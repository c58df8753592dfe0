# Tracing and accumulation: arrivals, hit tests, filter table, a whole room.
add_executable(bench_tracer ${CMAKE_CURRENT_LIST_DIR}/tracer_bench.cpp)
target_include_directories(bench_tracer PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
target_link_libraries(bench_tracer PRIVATE zm_core benchmark::benchmark benchmark::benchmark_main)
