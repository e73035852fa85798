# The library for other programs: libtessaly.so.MAJOR (tessaly.dll with
# its import library libtessaly.dll.a on Windows) and libtessaly.a, both
# from the objects of tessaly_objects, with the header, the CMake package
# (Tessaly::tessaly, the shared library; Tessaly::tessaly_static) and
# the pkg-config file that `cmake --install` puts beside them.

# Position-independent, for the shared library. Its calls between global
# functions may still be inlined: no name but the header's is visible, and
# those may not be interposed either, so the program that links the same
# objects statically runs the code it ran as a position-independent
# executable.
set_target_properties(tessaly_objects PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT WIN32)
  target_compile_options(tessaly_objects PRIVATE -fno-semantic-interposition)
endif()

add_library(tessaly SHARED $<TARGET_OBJECTS:tessaly_objects>)
add_library(tessaly_static STATIC $<TARGET_OBJECTS:tessaly_objects>)
set_target_properties(tessaly PROPERTIES VERSION ${PROJECT_VERSION}
                      SOVERSION ${PROJECT_VERSION_MAJOR} LINKER_LANGUAGE CXX)
set_target_properties(tessaly_static PROPERTIES OUTPUT_NAME tessaly EXPORT_NAME tessaly_static
                      LINKER_LANGUAGE CXX)
foreach(target tessaly tessaly_static)
  target_include_directories(${target} INTERFACE
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/codec/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()

if(WIN32)
  # tessaly.dll beside base64.exe, and libtessaly.dll.a to link it by
  # -ltessaly. Its users import the functions (TESSALY_SHARED). The
  # objects carry no dllexport, since the program links them too and is
  # to export nothing: the module-definition file made from the header's
  # TESSALY_API lines names the exports.
  set_target_properties(tessaly PROPERTIES PREFIX "")
  target_compile_definitions(tessaly INTERFACE TESSALY_SHARED)
  file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/codec/include/tessaly.h tessaly_api_lines
       REGEX "^TESSALY_API ")
  set(tessaly_exports "EXPORTS\n")
  foreach(line IN LISTS tessaly_api_lines)
    if(NOT line MATCHES "(tessaly_[a-z0-9_]+)\\(")
      message(FATAL_ERROR "codec/include/tessaly.h: no function name in: ${line}")
    endif()
    string(APPEND tessaly_exports "  ${CMAKE_MATCH_1}\n")
  endforeach()
  file(CONFIGURE OUTPUT tessaly.def CONTENT "${tessaly_exports}")
  target_sources(tessaly PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/tessaly.def)
  # Standalone and reproducible, as the .exe is.
  target_link_options(tessaly PRIVATE -static -static-libgcc -static-libstdc++
                      LINKER:--no-insert-timestamp)
elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # The C library is all it loads: whatever the C++ and compiler runtimes
  # would give is linked in, and kept out of the exports.
  target_link_options(tessaly PRIVATE -static-libstdc++ -static-libgcc
                      LINKER:--exclude-libs,ALL LINKER:--as-needed)
endif()

install(TARGETS tessaly tessaly_static EXPORT TessalyTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES codec/include/tessaly.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(tessaly_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tessaly)
install(EXPORT TessalyTargets NAMESPACE Tessaly:: DESTINATION ${tessaly_package_dir})
include(CMakePackageConfigHelpers)
# A program built against 1.x runs with any later 1.y: the interface only
# grows within a major version.
write_basic_package_version_file(TessalyConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES cmake/TessalyConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/TessalyConfigVersion.cmake
        DESTINATION ${tessaly_package_dir})

# The prefix is found from the file's own place, so that the tree works
# wherever it is unpacked.
file(RELATIVE_PATH tessaly_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" tessaly_pc_to_prefix "${tessaly_pc_to_prefix}")
set(tessaly_pc_libdir ${CMAKE_INSTALL_LIBDIR})
set(tessaly_pc_includedir ${CMAKE_INSTALL_INCLUDEDIR})
configure_file(cmake/tessaly.pc.in tessaly.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tessaly.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
