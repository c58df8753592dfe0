# 32-bit x86 Linux with the code generation of zm.dll, built by the host's
# g++ (Debian's g++-multilib) and run under qemu-i386: the only way our
# 32-bit code runs here, since this machine cannot start i386 programs
# natively and 32-bit wine is not available.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)

include(${CMAKE_CURRENT_LIST_DIR}/i386-codegen.cmake)
string(PREPEND CMAKE_C_FLAGS_INIT "-m32 ")
string(PREPEND CMAKE_CXX_FLAGS_INIT "-m32 ")

# CTest starts every test program through the emulator; qemu finds the
# 32-bit loader and C library that g++-multilib installs.
find_program(ZM_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZM_QEMU_I386})
