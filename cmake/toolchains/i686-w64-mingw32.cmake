# 32-bit Windows, the program's home platform:
#   cmake -S . -B build-win32 --toolchain cmake/toolchains/i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
