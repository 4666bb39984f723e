# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64),
# the programs and tests run under Wine:
#   cmake -S . -B build-mingw -G Ninja --toolchain cmake/mingw-w64.cmake
#   cmake --build build-mingw && WINEDEBUG=-all ctest --test-dir build-mingw
# The -posix compiler variant, because the library uses std::thread and
# std::mutex, which the -win32 variant of GCC 12 does not provide.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_xelo_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_xelo_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_xelo_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_xelo_mingw}-windres)

# Libraries and headers only from the MinGW tree, programs from the host.
# The host's /usr/include must never be searched: its headers are for
# glibc. Header-only dependencies are staged for this build instead
# (cmake/XeloCrossDeps.cmake).
set(CMAKE_FIND_ROOT_PATH /usr/${_xelo_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and test discovery run the .exe files through Wine.
find_program(XELO_WINE NAMES wine64 wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${XELO_WINE})

# Programs and DLLs carry the GCC runtime (libstdc++, libgcc, winpthread)
# inside, so that Wine (or a computer without MinGW) finds no missing DLLs
# and no PATH setup is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
