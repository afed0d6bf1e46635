# Cross-compiles wavwiden.exe for 64-bit Windows with the MinGW-w64 toolchain
# (Debian package mingw-w64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DWAVWIDEN_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WAVWIDEN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${WAVWIDEN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${WAVWIDEN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${WAVWIDEN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WAVWIDEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C and C++ runtimes (libgcc, libstdc++, winpthread) into the .exe,
# so that it runs on a Windows machine with no MinGW DLLs installed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
