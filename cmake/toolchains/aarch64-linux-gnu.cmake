# 64-bit ARM Linux, tested under qemu-aarch64:
#   cmake -S . -B build-aarch64-linux-gnu --toolchain cmake/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(LINUX_TRIPLE aarch64-linux-gnu)
set(LINUX_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
