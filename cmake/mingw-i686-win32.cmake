# Everything that ships: i686 with the win32 thread model, whose programs import only what Windows XP has.
set(GLIMMERLY_TRIPLE i686-w64-mingw32)
set(GLIMMERLY_THREADS win32)
set(GLIMMERLY_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
