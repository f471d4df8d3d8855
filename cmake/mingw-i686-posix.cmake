# The test programs: the posix thread model, which GoogleTest needs. Nothing built with it ships (its
# thread library imports functions Windows XP lacks).
set(GLIMMERLY_TRIPLE i686-w64-mingw32)
set(GLIMMERLY_THREADS posix)
set(GLIMMERLY_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
