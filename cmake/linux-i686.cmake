# 32-bit (i686) Linux build of the installer's core and its tests, run under
# qemu-i386 where the kernel runs no 32-bit program. The Windows installer
# that ships is 32-bit: this is where the core's sizes and offsets meet a
# 32-bit size_t and pointer on a system the tests can drive.
#
# GCC's multilib (g++-multilib) compiles and links; the programs find the
# 32-bit loader, /lib/ld-linux.so.2 from libc6-i386, through qemu-i386 on the
# host's own file system, so they stay dynamically linked as the host build's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# ctest and gtest_discover_tests start every test program through it.
find_program(LUMO_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMO_QEMU_I386})
