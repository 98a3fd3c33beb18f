# raduza_add_resources(): bundles a directory into a Win32 resource file as part
# of a target's build, and links the resource file into the target.
#
#   raduza_add_resources(<target> <directory>
#                        [JUNK_PATHS]
#                        [OUTPUT <file.res>]
#                        [EXCLUDE <pattern>...]
#                        [KEEP_VERSION_CONTROL]
#                        [NO_LINK])
#
# The resource file is what `raduza -q -r -f <file.res> <name>` writes in the
# directory's parent, <name> being the directory's own name: every file below the
# directory becomes one resource of the type RT_RADUZA named after its path, such
# as ASSETS/IMAGES/LOGO.GIF for assets/images/logo.gif. JUNK_PATHS (-j) keeps the
# file name alone (LOGO.GIF).
#
# EXCLUDE leaves out files and directories (-x): a pattern without a '/' is matched
# against the name of each file and directory at any depth (*.psd, .DS_Store,
# *.swp), one with a '/' against the path below <directory> (images/raw/*); `*` and
# `?` are wildcards and letters match either case. The version-control directories
# .git, .svn and .hg are left out too, unless KEEP_VERSION_CONTROL is given.
#
# <directory> is taken relative to the current source directory. OUTPUT, relative
# to the current binary directory, defaults to <target>-<name>.res (characters of
# <name> other than letters, digits and ._+- become _; -2, -3, ... are added when
# one target bundles several directories of one name).
#
# Nothing below the directory is looked at while configuring. Every build runs the
# tool in its updating mode (-u): it compares the tree with its record of the last
# run (<file.res>.inputs), by listing directories and reading the files' sizes,
# times and identities, and writes the resource file again only when a file was
# added, removed, renamed or changed; otherwise the resource file keeps its time
# and nothing is linked again. Files added later are picked up without
# reconfiguring, and an empty directory makes an empty bundle.
#
# A name that two files would share stops the build with an error naming both
# files by their full paths (-d), within one call and across the calls for one
# target: each call after the first is handed the resource files of the earlier
# ones (-n). Any warning stops the build too (-w): a directory that is gone since
# configuring, a file that cannot be read.
#
# Linking: with MSVC (or a compiler that mimics it) the .res itself is an input of
# the linker; with GNU toolchains (mingw-w64) raduza-coff (raduza::raduza-coff)
# first turns it into a COFF object for the target's machine, which GNU ld merges
# with the target's other resources (set RADUZA_RC_CONVERTER to windres to have
# windres do it instead, and RADUZA_WINDRES to choose which windres). For a target that is not
# built for Windows, the resource files are embedded by the assembler (.incbin)
# into a section that raduza/bundle.h finds: ELF platforms (Linux, the BSDs) only.
# Either way the target must be an executable or a shared library, defined in the
# directory of the call, and it is linked with raduza::bundle, the header that
# reads the files back (raduza::Bundle::ofProgram()). With NO_LINK the resource
# file is only made as part of the target's build, for any kind of target on any
# platform.
include_guard(GLOBAL)

function(raduza_add_resources target directory)
  cmake_parse_arguments(PARSE_ARGV 2 arg "JUNK_PATHS;NO_LINK;KEEP_VERSION_CONTROL" "OUTPUT" "EXCLUDE")
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
  if(directory MATCHES ";")
    message(FATAL_ERROR "raduza_add_resources: cannot bundle the directory ${directory}; "
      "a command line cannot carry the ';' in its path (the files below it may hold one)")
  endif()

  if(arg_OUTPUT)
    get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  else()
    # A build rule cannot name a file whose path holds ';' or a make wildcard.
    string(REGEX REPLACE "[^A-Za-z0-9._+-]" "_" output_stem "${name}")
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}-${output_stem}.res")
    # Two directories of one name bundled for one target: -2, -3, ... for the later ones.
    get_property(claimed GLOBAL PROPERTY _RADUZA_OUTPUTS)
    set(count 1)
    while(output IN_LIST claimed)
      math(EXPR count "${count} + 1")
      set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}-${output_stem}-${count}.res")
    endwhile()
  endif()
  set_property(GLOBAL APPEND PROPERTY _RADUZA_OUTPUTS "${output}")
  if(output MATCHES "[][;*?]")
    message(FATAL_ERROR "raduza_add_resources: OUTPUT ${output} holds one of ; [ ] * ?, "
      "which a build rule cannot name")
  endif()
  get_filename_component(output_dir "${output}" DIRECTORY)
  get_filename_component(output_name "${output}" NAME)
  file(MAKE_DIRECTORY "${output_dir}")

  # -w: any warning fails the build, such as the directory gone since configuring.
  set(options -q -u -d -w -r)
  if(arg_JUNK_PATHS)
    list(APPEND options -j)
  endif()
  set(patterns ${arg_EXCLUDE})
  if(NOT arg_KEEP_VERSION_CONTROL)
    list(APPEND patterns .git .svn .hg)
  endif()
  foreach(pattern IN LISTS patterns)
    list(APPEND options -x "${pattern}")
  endforeach()
  # The names of the target's earlier resource files are taken: the last call's
  # run sees them all.
  get_property(earlier TARGET ${target} PROPERTY _RADUZA_LINKED)
  set(steps "")
  if(NOT arg_NO_LINK)
    foreach(entry IN LISTS earlier)
      string(REPLACE "|" ";" entry "${entry}")
      list(GET entry 0 earlier_output)
      list(GET entry 1 earlier_step)
      list(APPEND options -n "${earlier_output}")
      list(APPEND steps ${earlier_step})
    endforeach()
  endif()

  # A step that runs on every build; the resource file is its byproduct, so Ninja
  # looks at its time again afterwards and links only when the tool wrote it.
  string(MAKE_C_IDENTIFIER "${output_name}" step_stem)
  set(step "${target}_raduza_${step_stem}")
  set(suffix 1)
  while(TARGET ${step})
    math(EXPR suffix "${suffix} + 1")
    set(step "${target}_raduza_${step_stem}_${suffix}")
  endwhile()
  add_custom_target(${step}
    COMMAND "$<TARGET_FILE:raduza::raduza>" ${options} -f "${output}" "${name}"
    BYPRODUCTS "${output}" "${output}.inputs"
    WORKING_DIRECTORY "${parent}"
    DEPENDS "$<TARGET_FILE:raduza::raduza>"
    COMMENT "Bundling ${name} into ${output_name} if anything changed"
    VERBATIM)
  if(steps)
    add_dependencies(${step} ${steps})
  endif()
  add_dependencies(${target} ${step})

  if(arg_NO_LINK)
    return()
  endif()
  set_property(TARGET ${target} APPEND PROPERTY _RADUZA_LINKED "${output}|${step}")

  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    message(FATAL_ERROR "raduza_add_resources: ${target} is a ${type}; resources are linked into "
      "executables and DLLs only (a static library would drop them)")
  endif()
  if(NOT WIN32)
    _raduza_embed(${target} "${output}")
    return()
  endif()
  _raduza_link_reader(${target})
  if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC")
    set(link_input "${output}")
  else()
    set(link_input "${output}.obj")
    _raduza_object_command(convert depends "${output}" "${link_input}")
    add_custom_command(OUTPUT "${link_input}"
      COMMAND ${convert}
      DEPENDS "${output}" ${depends}
      COMMENT "Converting ${output_name} to an object file"
      VERBATIM)
  endif()
  set_source_files_properties("${link_input}" PROPERTIES GENERATED TRUE EXTERNAL_OBJECT TRUE)
  target_sources(${target} PRIVATE "${link_input}")
endfunction()

# Sets <command> to what turns the resource file <res> into the object <object>
# for GNU linkers, and <depends> to the program it runs: raduza-coff for the
# target's machine, or windres where RADUZA_RC_CONVERTER says so or the machine is
# neither 32- nor 64-bit x86.
set(RADUZA_RC_CONVERTER raduza-coff CACHE STRING
  "What turns resource files into objects for GNU linkers: raduza-coff or windres")
set_property(CACHE RADUZA_RC_CONVERTER PROPERTY STRINGS raduza-coff windres)
function(_raduza_object_command command depends res object)
  if(NOT RADUZA_RC_CONVERTER MATCHES "^(raduza-coff|windres)$")
    message(FATAL_ERROR "raduza_add_resources: RADUZA_RC_CONVERTER is ${RADUZA_RC_CONVERTER}; "
      "it must be raduza-coff or windres")
  endif()
  if(RADUZA_RC_CONVERTER STREQUAL "raduza-coff" AND TARGET raduza::raduza-coff
      AND NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|ARM|aarch64|AARCH64)")
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(machine x86-64)
    else()
      set(machine i386)
    endif()
    set(${command} "$<TARGET_FILE:raduza::raduza-coff>" -m ${machine} -o "${object}" "${res}" PARENT_SCOPE)
    set(${depends} "$<TARGET_FILE:raduza::raduza-coff>" PARENT_SCOPE)
    return()
  endif()
  _raduza_find_windres()
  set(${command} "${RADUZA_WINDRES}" -J res -O coff -i "${res}" -o "${object}" PARENT_SCOPE)
  set(${depends} "" PARENT_SCOPE)
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

# Links raduza::bundle, the reading header, into the target once.
function(_raduza_link_reader target)
  if(NOT TARGET raduza::bundle)
    return()
  endif()
  get_property(linked TARGET ${target} PROPERTY LINK_LIBRARIES)
  if(NOT "raduza::bundle" IN_LIST linked)
    # The property, not target_link_libraries: the target may use either signature.
    set_property(TARGET ${target} APPEND PROPERTY LINK_LIBRARIES raduza::bundle)
  endif()
endfunction()

# Embeds the resource file in a target that is not built for Windows: one
# generated source per target, whose top-level assembly places every resource
# file of the target, in call order, in the section raduza_bundle. The linker
# marks its start and end (__start_raduza_bundle, __stop_raduza_bundle) in each
# executable and shared library, which raduza/bundle.h reads; resource files laid
# end to end read as one. An executable also exports the two as
# raduza_executable_bundle.
function(_raduza_embed target output)
  if(APPLE)
    message(FATAL_ERROR "raduza_add_resources: embedding needs an ELF platform (Linux, the BSDs); on "
      "macOS add NO_LINK and read the resource file with raduza::Bundle::fromImage")
  endif()
  _raduza_link_reader(${target})
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if("C" IN_LIST languages)
    set(extension c)
  elseif("CXX" IN_LIST languages)
    set(extension cpp)
  else()
    message(FATAL_ERROR "raduza_add_resources: embedding needs the C or C++ language enabled")
  endif()
  # Escaped once for the assembler's string, once for the C string around it.
  string(REPLACE "\\" "\\\\" quoted "${output}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" quoted "${quoted}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  set_property(TARGET ${target} APPEND_STRING PROPERTY _RADUZA_INCBIN
    "    \".balign 4\\n.incbin \\\"${quoted}\\\"\\n\"\n")
  get_property(incbin TARGET ${target} PROPERTY _RADUZA_INCBIN)
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}-raduza-bundle.${extension}")
  set(content "/* Generated by raduza_add_resources: the resource files of ${target}. */\n")
  string(APPEND content "__asm__(\".pushsection raduza_bundle,\\\"a\\\"\\n\"\n${incbin}    \".popsection\\n\");\n")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    # An executable exports where its bundle lies, for the libraries it loads
    # (raduza::Bundle::ofExecutable); a library's own bundle stays its own.
    string(APPEND content [[
#ifdef __cplusplus
extern "C" {
#endif
__attribute__((visibility("hidden"))) extern const unsigned char __start_raduza_bundle[];
__attribute__((visibility("hidden"))) extern const unsigned char __stop_raduza_bundle[];
__attribute__((visibility("default"))) extern const unsigned char* const raduza_executable_bundle[2];
const unsigned char* const raduza_executable_bundle[2] = {__start_raduza_bundle, __stop_raduza_bundle};
#ifdef __cplusplus
}
#endif
]])
  endif()
  _raduza_write_if_changed("${source}" "${content}")
  set_property(SOURCE "${source}" APPEND PROPERTY OBJECT_DEPENDS "${output}")
  get_property(sources TARGET ${target} PROPERTY SOURCES)
  if(NOT source IN_LIST sources)
    target_sources(${target} PRIVATE "${source}")
  endif()
endfunction()

# Writes <file> only when its content changes, so that what depends on it is not
# made again for nothing.
function(_raduza_write_if_changed file content)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${content}")
endfunction()
