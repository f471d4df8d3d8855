# The 64-bit build of the same sources, which the tests run where the machine cannot execute 32-bit
# code (a kernel without IA-32 emulation). It never ships.
set(GLIMMERLY_TRIPLE x86_64-w64-mingw32)
set(GLIMMERLY_THREADS win32)
set(GLIMMERLY_WINE wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
