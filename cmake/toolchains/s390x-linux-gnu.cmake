# 64-bit IBM Z Linux, a big-endian CPU, tested under qemu-s390x:
#   cmake -S . -B build-s390x-linux-gnu --toolchain cmake/toolchains/s390x-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(LINUX_TRIPLE s390x-linux-gnu)
set(LINUX_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
