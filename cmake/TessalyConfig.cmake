# find_package(Tessaly) gives two targets:
#   Tessaly::tessaly         the shared library (tessaly.dll on Windows)
#   Tessaly::tessaly_static  the static library, which needs nothing more
# Both put tessaly.h on the include path.
include(${CMAKE_CURRENT_LIST_DIR}/TessalyTargets.cmake)
