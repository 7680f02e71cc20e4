# Cross-build for 64-bit Windows with Debian's MinGW-w64 (posix threads), as one static program
# with no DLLs beside it. Test programs run through wine.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VERSIONUP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VERSIONUP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VERSIONUP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VERSIONUP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VERSIONUP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLL to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
