# raduza_add_resources(): bundles a directory into a Win32 resource file as part
# of a target's build, and links the resource file into the target.
#
#   raduza_add_resources(<target> <directory>
#                        [JUNK_PATHS]
#                        [OUTPUT <file.res>]
#                        [NO_LINK])
#
# The resource file is what `raduza -q -r -f <file.res> <name>` writes in the
# directory's parent, <name> being the directory's own name: every file below the
# directory becomes one resource of the type RT_RADUZA named after its path, such
# as ASSETS/IMAGES/LOGO.GIF for assets/images/logo.gif. JUNK_PATHS (-j) keeps the
# file name alone (LOGO.GIF); the first file to claim a name wins.
#
# <directory> is taken relative to the current source directory. OUTPUT, relative
# to the current binary directory, defaults to <target>-<name>.res. The resource
# file is made again when the tool or a file below the directory changes, and when
# files are added or removed: the directory is globbed with CONFIGURE_DEPENDS, so
# every build looks at it again.
#
# Linking: with MSVC (or a compiler that mimics it) the .res itself is an input of
# the linker; with GNU toolchains (mingw-w64) windres first turns it into a COFF
# object (set RADUZA_WINDRES to choose which windres). Either way the target must
# be an executable or a DLL built for Windows, and be defined in the directory of
# the call. With NO_LINK the resource file is only made as part of the target's
# build, for any kind of target on any platform.
include_guard(GLOBAL)

function(raduza_add_resources target directory)
  cmake_parse_arguments(PARSE_ARGV 2 arg "JUNK_PATHS;NO_LINK" "OUTPUT" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "raduza_add_resources: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "raduza_add_resources: ${target} is not a target")
  endif()
  if(NOT TARGET raduza::raduza)
    message(FATAL_ERROR "raduza_add_resources: the tool raduza::raduza is missing; call find_package(raduza) first")
  endif()

  get_filename_component(directory "${directory}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT IS_DIRECTORY "${directory}")
    message(FATAL_ERROR "raduza_add_resources: ${directory} is not a directory")
  endif()
  get_filename_component(name "${directory}" NAME)
  get_filename_component(parent "${directory}" DIRECTORY)
  # The name goes to the tool as a spec: it must not read as an option or a pattern.
  if(name STREQUAL "" OR name MATCHES "^-" OR name MATCHES "[*?]")
    message(FATAL_ERROR "raduza_add_resources: cannot bundle the directory ${directory}; "
      "its name must not be empty, start with '-' or hold '*' or '?'")
  endif()

  if(arg_OUTPUT)
    get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  else()
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}-${name}.res")
  endif()
  get_filename_component(output_dir "${output}" DIRECTORY)
  get_filename_component(output_name "${output}" NAME)
  file(MAKE_DIRECTORY "${output_dir}")

  file(GLOB_RECURSE inputs FOLLOW_SYMLINKS LIST_DIRECTORIES false CONFIGURE_DEPENDS "${directory}/*")
  if(NOT inputs)
    message(FATAL_ERROR "raduza_add_resources: ${directory} holds no files")
  endif()
  # The list of files, rewritten only when it changes: a file added or removed
  # makes it newer than the resource file, which is then made again.
  set(manifest "${output}.files")
  string(REPLACE ";" "\n" listing "${inputs}")
  file(GENERATE OUTPUT "${manifest}" CONTENT "${listing}\n")

  set(junk "")
  if(arg_JUNK_PATHS)
    set(junk -j)
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND "$<TARGET_FILE:raduza::raduza>" -q -r ${junk} -f "${output}" "${name}"
    WORKING_DIRECTORY "${parent}"
    DEPENDS "$<TARGET_FILE:raduza::raduza>" "${manifest}" ${inputs}
    COMMENT "Bundling ${name} into ${output_name}"
    VERBATIM)

  if(arg_NO_LINK)
    # A source that is not compiled still ties the command to the target's build.
    set_source_files_properties("${output}" PROPERTIES GENERATED TRUE HEADER_FILE_ONLY TRUE)
    target_sources(${target} PRIVATE "${output}")
    return()
  endif()

  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    message(FATAL_ERROR "raduza_add_resources: ${target} is a ${type}; resources are linked into "
      "executables and DLLs only (a static library would drop them)")
  endif()
  if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC")
    set(link_input "${output}")
  elseif(WIN32)
    _raduza_find_windres()
    set(link_input "${output}.obj")
    add_custom_command(OUTPUT "${link_input}"
      COMMAND "${RADUZA_WINDRES}" -J res -O coff -i "${output}" -o "${link_input}"
      DEPENDS "${output}"
      COMMENT "Converting ${output_name} to an object file"
      VERBATIM)
  else()
    message(FATAL_ERROR "raduza_add_resources: ${target} is not built for Windows, so it cannot "
      "hold resources; add NO_LINK to make the resource file only")
  endif()
  set_source_files_properties("${link_input}" PROPERTIES GENERATED TRUE EXTERNAL_OBJECT TRUE)
  target_sources(${target} PRIVATE "${link_input}")
endfunction()

# Sets RADUZA_WINDRES: the windres that belongs to the compiler, such as
# i686-w64-mingw32-windres beside i686-w64-mingw32-g++.
function(_raduza_find_windres)
  if(RADUZA_WINDRES)
    return()
  endif()
  set(names "")
  set(hints "")
  if(CMAKE_RC_COMPILER MATCHES "windres[^/\\\\]*$" AND EXISTS "${CMAKE_RC_COMPILER}")
    get_filename_component(rc_name "${CMAKE_RC_COMPILER}" NAME)
    get_filename_component(rc_dir "${CMAKE_RC_COMPILER}" DIRECTORY)
    list(APPEND names "${rc_name}")
    list(APPEND hints "${rc_dir}")
  endif()
  foreach(compiler IN ITEMS "${CMAKE_CXX_COMPILER}" "${CMAKE_C_COMPILER}")
    get_filename_component(compiler_name "${compiler}" NAME)
    get_filename_component(compiler_dir "${compiler}" DIRECTORY)
    if(compiler_name MATCHES "^(.*-)(g\\+\\+|gcc|c\\+\\+|cc|clang\\+\\+|clang)(-[^-]*)?(\\.exe)?$")
      list(APPEND names "${CMAKE_MATCH_1}windres")
      list(APPEND hints "${compiler_dir}")
    endif()
  endforeach()
  # windres runs on the build machine, so it is never looked for in a target sysroot.
  find_program(RADUZA_WINDRES NAMES ${names} windres llvm-windres HINTS ${hints} NO_CMAKE_FIND_ROOT_PATH
    DOC "windres, which turns a resource file into an object file for GNU linkers")
  if(NOT RADUZA_WINDRES)
    message(FATAL_ERROR "raduza_add_resources: windres not found; set RADUZA_WINDRES")
  endif()
endfunction()
