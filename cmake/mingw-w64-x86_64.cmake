# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model, which the C++ standard library's threads and GoogleTest need).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAVOTH_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAVOTH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAVOTH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RAVOTH_MINGW_PREFIX}-windres)

# Look for libraries and headers (zlib from libz-mingw-w64-dev) in the
# target's tree only, programs on the build machine only.
set(CMAKE_FIND_ROOT_PATH /usr/${RAVOTH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program must run on its own: no libstdc++, libgcc, winpthread or
# zlib DLL beside it: zlib is found as libz.a, not the import library
# libz.dll.a.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and test discovery run the Windows programs through Wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
