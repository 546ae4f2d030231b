# Cross-building the Windows programs on Debian with mingw-w64 (packages g++-mingw-w64-x86-64 and
# binutils-mingw-w64-x86-64). The posix-threads compilers are named explicitly: with win32
# threads, GCC 12's standard library has no std::thread, mutex or condition_variable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZQ_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ZQ_MINGW_TRIPLET}-gcc-posix ${ZQ_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZQ_MINGW_TRIPLET}-g++-posix ${ZQ_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZQ_MINGW_TRIPLET}-windres windres REQUIRED)

# Libraries and packages come from the target's root only, never from the build machine's /usr:
# a Linux library or CMake package found there would link into a Windows program.
set(CMAKE_FIND_ROOT_PATH /usr/${ZQ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
