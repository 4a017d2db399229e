# Shared by both MinGW toolchains.
#
# The runtime is linked statically so that the installer needs no MinGW DLL
# next to it: it imports only system DLLs, which matters for a program that is
# started from a Downloads folder full of other files.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 7 is the oldest system the installer's hardening calls exist on.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
# The stub travels inside every installer: release builds carry no symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
