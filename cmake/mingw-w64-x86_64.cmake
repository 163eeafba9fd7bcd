# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX threads, so that
# std::thread and std::mutex work and the run-time is libwinpthread-1.dll).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
#
# Used both for Qt itself (scripts/windows builds it once) and for this program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VEK_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VEK_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${VEK_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# The target's libraries and headers: the MinGW sysroot, plus whatever prefixes the
# caller adds (the cross-built Qt) through CMAKE_PREFIX_PATH / VEK_WINDOWS_PREFIX.
set(CMAKE_FIND_ROOT_PATH /usr/${VEK_MINGW_TRIPLET})
if(DEFINED ENV{VEK_WINDOWS_PREFIX})
    list(APPEND CMAKE_FIND_ROOT_PATH $ENV{VEK_WINDOWS_PREFIX})
endif()
if(VEK_WINDOWS_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${VEK_WINDOWS_PREFIX})
endif()
# Programs run on the build machine; libraries, headers and packages are the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Tests and helpers built for Windows run under wine here.
find_program(VEK_WINE wine)
if(VEK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VEK_WINE})
endif()
