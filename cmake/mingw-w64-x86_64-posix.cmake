# Cross-builds the Windows program (torvandrix-upload.exe) with Debian's mingw-w64 compiler in its
# -posix thread model: the win32 model has no std::thread, which the terminal's writer thread
# needs. libgcc, libstdc++ and winpthread are linked in statically, so the .exe runs on its own.
#
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64-x86_64-posix.cmake
#
# Test programs run under wine when it is installed (CMAKE_CROSSCOMPILING_EMULATOR); a prefix
# of its own can be chosen with WINEPREFIX in the environment of ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(tvx_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tvx_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tvx_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${tvx_mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${tvx_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine64 package puts the 64-bit loader outside PATH.
find_program(TVX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TVX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TVX_WINE})
endif()
