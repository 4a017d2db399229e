# Cross build for Windows (x86_64) with MinGW-w64 from Debian's packages.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LUMO_MINGW_PREFIX x86_64-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
