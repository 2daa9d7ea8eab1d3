# Cross build of the 32-bit Windows program with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(EMPCTL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
