# Cross build for Windows (i686) with MinGW-w64 from Debian's packages. The
# posix thread model keeps the standard library's threads and mutexes usable
# in the core; the installer's own worker still starts with CreateThread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(LUMO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LUMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
