# What both halves of the native/i386 comparison build from this tree, each
# with its own compiler: the corpus driver of bench/, and
# libzm_portable_math.so, the engine's objects linked with
# bench/portable_math.c in place of the C library's elementary functions.
# Needs the zm_objects target.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/ZmExports.cmake)

add_executable(compare_render_corpus ${CMAKE_CURRENT_LIST_DIR}/../../bench/render_corpus.cpp)
set_target_properties(compare_render_corpus PROPERTIES OUTPUT_NAME render_corpus)
target_compile_features(compare_render_corpus PRIVATE cxx_std_20)
target_include_directories(compare_render_corpus PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../include)
target_link_libraries(compare_render_corpus PRIVATE ${CMAKE_DL_LIBS})

add_library(zm_portable_math SHARED $<TARGET_OBJECTS:zm_objects>
                                    ${CMAKE_CURRENT_LIST_DIR}/../../bench/portable_math.c)
# The replacements must never be fused or contracted differently by the two
# compilers, and stay inside the library: the version script makes them local.
target_compile_options(zm_portable_math PRIVATE -ffp-contract=off)
set_target_properties(zm_portable_math PROPERTIES C_STANDARD 11 C_VISIBILITY_PRESET hidden)
zm_restrict_exports(zm_portable_math)
