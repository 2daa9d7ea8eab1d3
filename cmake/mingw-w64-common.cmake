# Shared by the mingw-w64 toolchain files, which set EMPCTL_MINGW_TRIPLET
# and CMAKE_SYSTEM_PROCESSOR first. The posix thread-model compilers are
# needed by GoogleTest (std::mutex).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${EMPCTL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EMPCTL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${EMPCTL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${EMPCTL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Runs on a bare Windows install: the C and C++ runtimes and winpthreads are
# linked in, so only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_STRIP ${EMPCTL_MINGW_TRIPLET}-strip)
