# One library per folder, layered one way: driver -> resfile, filespec, record -> platform -> util;
# coff -> resfile -> platform -> util. Below them all, include/raduza/format/ (the layer
# `format`): the resource file's layout, its text and its name order, header-only, which
# the tool's layers and the public headers share.
# raduza_layer() links a folder's library to the layers it names and fails the
# configuration when a file of the folder includes a header from any other folder,
# so a dependency that runs upward, or one the folder does not declare, never builds.

# The warnings the project's own code is held to; third-party code keeps its own.
set(RADUZA_WARNINGS -Wall -Wextra -Werror)

# raduza_check_includes(<folder> <allowed folder>...): every `#include "x/..."` in the
# folder's files names the folder itself or one of the allowed ones.
function(raduza_check_includes folder)
  set(allowed ${folder} ${ARGN})
  file(GLOB files ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} includes REGEX "^#include \"[^/\"]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([^/\"]+)/.*" "\\1" included "${line}")
      if(line MATCHES "^#include \"raduza/format/")
        set(included format)
      endif()
      if(NOT included IN_LIST allowed)
        message(FATAL_ERROR "${file}: includes from ${included}/, but ${folder}/ may use only: ${allowed}")
      endif()
    endforeach()
  endforeach()
endfunction()

# raduza_layer(<folder> SOURCES <file>... [LAYERS <folder>...] [HEADERS])
# makes the library raduza_<folder>; HEADERS lets it use the public headers
# (include/raduza/, raduza::bundle) as well. LAYERS may name `format`.
function(raduza_layer folder)
  cmake_parse_arguments(LAYER "HEADERS" "" "SOURCES;LAYERS" ${ARGN})
  set(allowed ${LAYER_LAYERS})
  if(LAYER_HEADERS)
    list(APPEND allowed raduza format)
  endif()
  raduza_check_includes(${folder} ${allowed})
  set(target raduza_${folder})
  add_library(${target} STATIC ${LAYER_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${RADUZA_WARNINGS})
  foreach(layer ${LAYER_LAYERS})
    target_link_libraries(${target} PUBLIC raduza_${layer})
  endforeach()
  if(LAYER_HEADERS)
    target_link_libraries(${target} PUBLIC raduza_bundle)
  endif()
endfunction()
