# The CMake package of raduza, for find_package(raduza): the imported executables
# raduza::raduza, raduza::raduza-list and raduza::raduza-coff, the header
# raduza::bundle and the function raduza_add_resources().
#
# When cross-building Windows programs, the tool must be the one that runs on
# the build machine: point raduza_DIR at the native package, for example
# -Draduza_DIR=/usr/lib/cmake/raduza.
include("${CMAKE_CURRENT_LIST_DIR}/raduza-targets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/raduza-resources.cmake")
