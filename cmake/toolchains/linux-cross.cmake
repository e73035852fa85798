# Shared by the Linux cross toolchain files: set LINUX_TRIPLE and
# LINUX_QEMU, then include. The programs are linked statically, so that
# qemu runs them without the target's loader and libraries; ctest and
# gtest_discover_tests run them through the emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${LINUX_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LINUX_TRIPLE}-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
find_program(TESSALY_QEMU ${LINUX_QEMU})
if(TESSALY_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSALY_QEMU})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${LINUX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
