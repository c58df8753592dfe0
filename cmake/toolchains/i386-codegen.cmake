# Code generation of every 32-bit x86 build (zm.dll, and the i386 Linux build
# that runs the same code under emulation): SSE2 arithmetic, so that doubles
# round exactly as in the 64-bit builds (the x87 unit would keep 80-bit
# intermediates).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
