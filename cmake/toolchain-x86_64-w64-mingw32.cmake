# SPDX-License-Identifier: BSD-3-Clause
# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-x86-64). This is the
# build that runs under wine64 on machines whose kernel runs no 32-bit programs; the player
# itself loads the 32-bit build.
#   cmake -S . -B build-win64 -G Ninja -DTRELMO_PLUGIN_ONLY=ON \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TRELMO_MINGW_TRIPLET x86_64-w64-mingw32)
# The "win32" thread model needs no winpthread DLL; the plug-in uses Win32 threads directly.
find_program(CMAKE_C_COMPILER NAMES ${TRELMO_MINGW_TRIPLET}-gcc-win32 ${TRELMO_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TRELMO_MINGW_TRIPLET}-g++-win32 ${TRELMO_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TRELMO_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${TRELMO_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump for the target")

set(CMAKE_FIND_ROOT_PATH /usr/${TRELMO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
