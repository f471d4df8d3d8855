# The test programs beside the 64-bit build (see mingw-x86_64-win32.cmake).
set(GLIMMERLY_TRIPLE x86_64-w64-mingw32)
set(GLIMMERLY_THREADS posix)
set(GLIMMERLY_WINE wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
