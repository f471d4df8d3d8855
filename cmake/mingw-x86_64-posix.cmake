# Cross toolchain for the test programs: the posix thread model, which GoogleTest needs.
# Nothing built with it ships (its thread library imports functions Windows XP lacks).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(WINE_EXECUTABLE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
