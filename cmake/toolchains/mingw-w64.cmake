# Shared by the MinGW-w64 toolchain files: set MINGW_TRIPLE, then include.
# Debian's "-posix" compilers are chosen by name so that the build does not
# depend on which thread model update-alternatives points at.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the programs under Wine where this machine can start them:
# scripts/wine-run picks the loader by the .exe's kind. 32-bit Wine needs
# a kernel that runs 32-bit x86 programs, which some refuse.
get_filename_component(tessaly_source_dir ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
if(MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  set(tessaly_wine_loader /usr/lib/wine/wine64)
  set(tessaly_runs_target 0)
else()
  set(tessaly_wine_loader /usr/lib/wine/wine)
  execute_process(COMMAND ${tessaly_source_dir}/scripts/runs-i386 RESULT_VARIABLE tessaly_runs_target)
endif()
if(EXISTS ${tessaly_wine_loader} AND tessaly_runs_target EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${tessaly_source_dir}/scripts/wine-run)
endif()
