# zm.dll for 32-bit Windows hosts, cross-built with Debian's mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZM_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
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

# SSE2 arithmetic, so that doubles round exactly as in the 64-bit builds
# (the x87 unit would keep 80-bit intermediates).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# No MinGW runtime DLL beside zm.dll: libgcc, libstdc++ and winpthread are
# linked in.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${ZM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
