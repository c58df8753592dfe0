# The test suite for 64-bit Windows, cross-built with Debian's mingw-w64 and
# run under wine64 through CTest's emulator hook.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZM_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
# The posix thread model: the win32 one of GCC 12 has no std::mutex or
# std::thread. Its winpthread runtime is linked statically below.
if(EXISTS /usr/bin/${ZM_MINGW_PREFIX}-g++-posix)
  set(CMAKE_C_COMPILER ${ZM_MINGW_PREFIX}-gcc-posix)
  set(CMAKE_CXX_COMPILER ${ZM_MINGW_PREFIX}-g++-posix)
else()
  set(CMAKE_C_COMPILER ${ZM_MINGW_PREFIX}-gcc)
  set(CMAKE_CXX_COMPILER ${ZM_MINGW_PREFIX}-g++)
endif()
set(CMAKE_RC_COMPILER ${ZM_MINGW_PREFIX}-windres)

# Self-contained programs: wine needs no MinGW DLLs on its path.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh)

set(CMAKE_FIND_ROOT_PATH /usr/${ZM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
