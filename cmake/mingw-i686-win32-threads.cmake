# Cross toolchain for the release: the mingw-w64 i686 compilers with the win32
# thread model. The -posix ones link winpthread statically, which imports
# GetTickCount64, and Windows XP refuses to start such a program. The code
# shipped needs no std::thread or std::mutex, so nothing is lost.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
