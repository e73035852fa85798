# Installs the build into a fresh prefix and checks the tree: exactly the
# program, its man page and its licence where packagers and man(1) look
# for them (beside bin/ on Windows, where the tree is the zip), and the
# library where compilers, CMake and pkg-config look for it, named by the
# header's version; and a program that runs from there.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DSOURCE_DIR=... -DLIBDIR=lib [-DSYSTEM=Windows]
#         [-DRUNNER=qemu-...] -P check_install.cmake
# On Windows the installed program runs only with a RUNNER.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

file(STRINGS "${SOURCE_DIR}/codec/include/tessaly.h" version_lines
     REGEX "^#define TESSALY_VERSION_(MAJOR|MINOR|PATCH) [0-9]+$")
set(version)
foreach(part MAJOR MINOR PATCH)
  string(REGEX MATCH "TESSALY_VERSION_${part} ([0-9]+)" _ "${version_lines}")
  list(APPEND version ${CMAKE_MATCH_1})
endforeach()
list(GET version 0 major)
list(JOIN version . version)

set(package ${LIBDIR}/cmake/Tessaly)
set(library_files include/tessaly.h ${LIBDIR}/libtessaly.a ${LIBDIR}/pkgconfig/tessaly.pc
    ${package}/TessalyConfig.cmake ${package}/TessalyConfigVersion.cmake
    ${package}/TessalyTargets.cmake ${package}/TessalyTargets-CONFIG.cmake)
if(SYSTEM STREQUAL "Windows")
  set(program bin/base64.exe)
  set(expected ${program} bin/tessaly.dll ${LIBDIR}/libtessaly.dll.a LICENSE)
  set(copies "LICENSE=LICENSE")
else()
  set(program bin/base64)
  set(expected ${program} share/doc/tessaly/LICENSE share/man/man1/base64.1
      ${LIBDIR}/libtessaly.so ${LIBDIR}/libtessaly.so.${major} ${LIBDIR}/libtessaly.so.${version})
  set(copies "man/base64.1=share/man/man1/base64.1" "LICENSE=share/doc/tessaly/LICENSE")
endif()
list(APPEND expected ${library_files})
list(SORT expected)
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
# The targets of each build type have a file of their own.
list(TRANSFORM installed REPLACE "/TessalyTargets-[a-z]+[.]cmake$" "/TessalyTargets-CONFIG.cmake")
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed ${installed}, want ${expected}")
endif()

foreach(pair ${copies} "codec/include/tessaly.h=include/tessaly.h")
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

# The linker finds libtessaly.so, which names the file of this major
# version, which is this version's.
if(NOT SYSTEM STREQUAL "Windows")
  foreach(link "libtessaly.so=libtessaly.so.${major}" "libtessaly.so.${major}=libtessaly.so.${version}")
    string(REPLACE "=" ";" link "${link}")
    list(GET link 0 name)
    list(GET link 1 target)
    file(READ_SYMLINK "${PREFIX}/${LIBDIR}/${name}" found)
    if(NOT found STREQUAL target)
      message(FATAL_ERROR "${LIBDIR}/${name} points at '${found}', want ${target}")
    endif()
  endforeach()
endif()

file(STRINGS "${PREFIX}/${LIBDIR}/pkgconfig/tessaly.pc" pc_version REGEX "^Version: ")
if(NOT pc_version STREQUAL "Version: ${version}")
  message(FATAL_ERROR "tessaly.pc says '${pc_version}', want Version: ${version}")
endif()
# find_package(Tessaly X.Y) takes this version for any X.Y up to it within
# its major version, and none of another.
math(EXPR older_major "${major} - 1")
foreach(request "${version}=TRUE" "${major}.0=TRUE" "${older_major}.0=FALSE"
        "${older_major}.99=FALSE")
  string(REPLACE "=" ";" request "${request}")
  list(GET request 0 PACKAGE_FIND_VERSION)
  list(GET request 1 want)
  string(REPLACE "." ";" parts "${PACKAGE_FIND_VERSION}")
  list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
  list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
  set(PACKAGE_VERSION_COMPATIBLE)
  include("${PREFIX}/${package}/TessalyConfigVersion.cmake")
  if(NOT PACKAGE_VERSION STREQUAL version OR NOT "${PACKAGE_VERSION_COMPATIBLE}" STREQUAL want)
    message(FATAL_ERROR "TessalyConfigVersion.cmake: version ${PACKAGE_VERSION}, compatible with "
            "${PACKAGE_FIND_VERSION} '${PACKAGE_VERSION_COMPATIBLE}', want ${version}, ${want}")
  endif()
endforeach()

if(SYSTEM STREQUAL "Windows" AND NOT RUNNER)
  return()
endif()
execute_process(COMMAND ${RUNNER} "${PREFIX}/${program}" -s abc
                RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out MATCHES "^YWJj\r?\n$")
  message(FATAL_ERROR "installed program: status ${status}, output '${out}'")
endif()
