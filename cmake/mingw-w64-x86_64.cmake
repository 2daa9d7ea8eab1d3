# Cross build of the 64-bit Windows program with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(EMPCTL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
