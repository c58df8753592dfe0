# The test suite for 64-bit Windows, cross-built with Debian's mingw-w64 and
# run under wine64 through CTest's emulator hook.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZM_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh)
