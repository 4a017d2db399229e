# Shared by both MinGW toolchains, which set LUMO_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR before they include this file.
set(CMAKE_SYSTEM_NAME Windows)
# The posix thread model keeps the standard library's threads and mutexes
# usable in the core; the installer's own worker still starts with CreateThread.
set(CMAKE_C_COMPILER ${LUMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LUMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The runtime is linked statically so that the installer needs no MinGW DLL
# next to it: it imports only system DLLs, which matters for a program that is
# started from a Downloads folder full of other files.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 7 is the oldest system the installer's hardening calls exist on.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
# The stub travels inside every installer: release builds carry no symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
