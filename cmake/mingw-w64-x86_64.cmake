# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model, which the C++ standard library's threads and GoogleTest need).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAVOTH_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAVOTH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAVOTH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RAVOTH_MINGW_PREFIX}-windres)

# Look for libraries and headers in the target's tree only (zlib from
# libz-mingw-w64-dev) and in the prefix that scripts/build-windows-libs.sh
# fills, programs on the build machine only.
set(RAVOTH_WIN_LIBS_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../build-win-libs/prefix)
cmake_path(NORMAL_PATH RAVOTH_WIN_LIBS_PREFIX)
set(CMAKE_FIND_ROOT_PATH ${RAVOTH_WIN_LIBS_PREFIX} /usr/${RAVOTH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the .pc files of those two places alone, never the build
# machine's own.
set(ENV{PKG_CONFIG_LIBDIR} ${RAVOTH_WIN_LIBS_PREFIX}/lib/pkgconfig:/usr/${RAVOTH_MINGW_PREFIX}/lib/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})

# Every program must run on its own: no libstdc++, libgcc, winpthread or
# zlib DLL beside it: zlib is found as libz.a, not the import library
# libz.dll.a.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and test discovery run the Windows programs through Wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
