# Installs the build into a fresh prefix and checks the tree: exactly the
# program, its man page and its licence, where packagers and man(1) look
# for them, and a program that runs from there.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DSOURCE_DIR=... [-DRUNNER=qemu-...] -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
set(expected bin/base64 share/doc/tessaly/LICENSE share/man/man1/base64.1)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed ${installed}, want ${expected}")
endif()

foreach(pair "man/base64.1=share/man/man1/base64.1" "LICENSE=share/doc/tessaly/LICENSE")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 copy)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files
                  "${SOURCE_DIR}/${source}" "${PREFIX}/${copy}"
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "the installed ${copy} differs from ${source}")
  endif()
endforeach()

execute_process(COMMAND ${RUNNER} "${PREFIX}/bin/base64" -s abc
                RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL "YWJj\n")
  message(FATAL_ERROR "installed program: status ${status}, output '${out}'")
endif()
