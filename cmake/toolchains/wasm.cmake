# WebAssembly with Debian's emscripten, for the workbench page (web/).
#
# Debian ships emscripten's library cache read-only and without the builds
# that use WebAssembly's own exceptions, which the engine's error frame needs
# (emscripten otherwise ignores C++ exceptions). So the build uses a cache of
# its own under build/: links to Debian's prebuilt libraries, with the missing
# ones built there on first use.
set(_zm_build_root ${CMAKE_CURRENT_LIST_DIR}/../../build)
get_filename_component(_zm_build_root ${_zm_build_root} ABSOLUTE)
set(ZM_EM_CACHE ${_zm_build_root}/emscripten-cache)
set(ZM_EM_CONFIG ${_zm_build_root}/emscripten-config.py)
if(NOT EXISTS ${ZM_EM_CACHE}/sysroot)
  file(MAKE_DIRECTORY ${ZM_EM_CACHE})
  execute_process(COMMAND cp -rs /usr/share/emscripten/cache/. ${ZM_EM_CACHE}/ COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${ZM_EM_CACHE}/cache.lock)
endif()
file(READ /usr/share/emscripten/.emscripten _zm_em_config)
string(REGEX REPLACE "FROZEN_CACHE = True" "FROZEN_CACHE = False" _zm_em_config "${_zm_em_config}")
file(WRITE ${ZM_EM_CONFIG} "${_zm_em_config}\nCACHE = '${ZM_EM_CACHE}'\n")

# emcc runs node for its JavaScript passes, and Debian's emcc finds its node
# modules only through NODE_PATH when node comes from another package.
set(ENV{EM_CONFIG} ${ZM_EM_CONFIG})
set(ENV{NODE_PATH} /usr/share/nodejs)
set(_zm_em_env env EM_CONFIG=${ZM_EM_CONFIG} NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_COMPILER_LAUNCHER ${_zm_em_env} CACHE STRING "")
set(CMAKE_CXX_COMPILER_LAUNCHER ${_zm_em_env} CACHE STRING "")
set(CMAKE_C_LINKER_LAUNCHER ${_zm_em_env} CACHE STRING "")
set(CMAKE_CXX_LINKER_LAUNCHER ${_zm_em_env} CACHE STRING "")

include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# Emscripten's libc++ (clang 14) has no std::bit_cast yet.
set(CMAKE_CXX_FLAGS_INIT "-fwasm-exceptions -include ${CMAKE_CURRENT_LIST_DIR}/../wasm/bit_cast.h")
set(CMAKE_C_FLAGS_INIT "")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fwasm-exceptions")
