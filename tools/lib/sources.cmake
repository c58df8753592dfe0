# The tool library's sources, grouped by what they need, for its two
# builds: the native one (tools/CMakeLists.txt) and the workbench page's
# WebAssembly (web/CMakeLists.txt), which has no libsndfile, FFTW or soxr.

# Needs only the C++ library and nlohmann/json: the design mapping, the
# checks, the plots and the analysis (with a RealTransform build beside it).
set(ZM_TOOL_LIB_PORTABLE
  base/json_text.cpp
  base/nearest_name.cpp
  base/text.cpp
  base/output_file.cpp
  audio/acoustics.cpp
  design/design_json.cpp
  design/materials.cpp
  design/room_geometry.cpp
  design/room_height.cpp
  checks/design_check.cpp
  checks/design_summary.cpp
  checks/engine_messages.cpp
  checks/reverberation_estimate.cpp
  plots/svg_plot.cpp)

# Native only: sound files (libsndfile), auralisation (soxr) and FFTW's
# RealTransform.
set(ZM_TOOL_LIB_NATIVE
  audio/real_transform_fftw.cpp
  audio/audio_export.cpp
  audio/audio_file.cpp
  audio/auralise.cpp)

# What calls the engine: loading and saving, its verdict on a design.
set(ZM_TOOL_LIB_ENGINE
  design/design_io.cpp
  checks/engine_check.cpp
  checks/check_report.cpp)

foreach(group ZM_TOOL_LIB_PORTABLE ZM_TOOL_LIB_NATIVE ZM_TOOL_LIB_ENGINE)
  list(TRANSFORM ${group} PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
endforeach()
