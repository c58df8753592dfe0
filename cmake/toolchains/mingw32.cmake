# zm.dll for 32-bit Windows hosts, cross-built with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZM_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/i386-codegen.cmake)
