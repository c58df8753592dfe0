# What both Windows cross-builds share; the including toolchain sets
# CMAKE_SYSTEM_PROCESSOR and ZM_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

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

# No MinGW runtime DLL beside what we build: libgcc, libstdc++ and
# winpthread are linked in, so zm.dll ships alone and wine needs no DLL path.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${ZM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
