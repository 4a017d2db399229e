# Cross build for Windows (i686) with MinGW-w64 from Debian's packages.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LUMO_MINGW_PREFIX i686-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
