# Cross-build for 64-bit Windows with Debian's MinGW-w64 toolchain
# (packages g++-mingw-w64-x86-64, and libz-mingw-w64-dev for the tests).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(folimark_mingw_prefix x86_64-w64-mingw32)
# The POSIX-threads variant: its C++ runtime has std::mutex, which the test
# framework needs. Linked statically, it adds no DLL.
set(CMAKE_C_COMPILER ${folimark_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${folimark_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${folimark_mingw_prefix}-windres)

# Libraries and headers come from the Windows sysroot only; programs (the
# PDF checkers the tests call) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${folimark_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run under Wine when tests call them.
find_program(FOLIMARK_WINE_PROGRAM NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(FOLIMARK_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FOLIMARK_WINE_PROGRAM})
endif()
