# 32-bit x86 Linux, tested under qemu-i386 (also where the kernel refuses
# 32-bit programs):
#   cmake -S . -B build-i686-linux-gnu --toolchain cmake/toolchains/i686-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LINUX_TRIPLE i686-linux-gnu)
set(LINUX_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
