# raduza_add_resources in a user's build, from the first build on: every file name
# bundles, a file added to an empty directory is picked up without configuring
# again, version-control directories and excluded files are left out and changing
# them relinks nothing, a name two files share stops the build naming both by
# their full paths, and so does a bundled directory that is gone.
#   cmake -DGENERATOR=Ninja -DWORK_DIR=<dir> -DPROJECT=<names_project>
#         (-DRADUZA_TOOL=<raduza> -DRADUZA_SOURCE_DIR=<tree> | -Draduza_DIR=<package>)
#         -P package_builds.cmake
cmake_minimum_required(VERSION 3.16)

function(fail)
  message(FATAL_ERROR "FAIL (${GENERATOR}): ${ARGN}")
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(src "${WORK_DIR}/src")
set(bin "${WORK_DIR}/build")
file(COPY "${PROJECT}/" DESTINATION "${src}")
# Every name gets content of its own length, so the program's listing tells them
# apart; <SEMICOLON> stands for the ';' a list cannot hold.
set(names "new\nline.txt" "quote\".txt" "apostrophe'.txt" "back\\slash.txt" "dollar$.txt" "#hash.txt"
  "semi<SEMICOLON>colon.txt" "[brackets].txt" "with space.txt" "accenté.txt" "sub/a.txt")
set(size 1)
foreach(name IN LISTS names)
  string(REPLACE "<SEMICOLON>" ";" name "${name}")
  string(REPEAT "x" ${size} content)
  file(WRITE "${src}/assets/${name}" "${content}")
  math(EXPR size "${size} + 1")
endforeach()
file(WRITE "${src}/assets/.git/config" "[core]\n")
file(MAKE_DIRECTORY "${src}/empty" "${src}/other/assets")
file(WRITE "${src}/other/assets/own.txt" "own\n")

set(configure_args -G "${GENERATOR}" -S "${src}" -B "${bin}")
foreach(variable RADUZA_TOOL RADUZA_SOURCE_DIR raduza_DIR)
  if(${variable})
    list(APPEND configure_args "-D${variable}=${${variable}}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} ${configure_args} RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed)
  fail("configuring failed:\n${log}")
endif()

# Builds; <expect> is OK or FAIL. Sets `log` to what the build printed.
macro(build expect)
  execute_process(COMMAND ${CMAKE_COMMAND} --build "${bin}" RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(failed AND "${expect}" STREQUAL "OK")
    fail("the build failed:\n${log}")
  elseif(NOT failed AND "${expect}" STREQUAL "FAIL")
    fail("the build succeeded:\n${log}")
  endif()
  if(log MATCHES "Re-running CMake|Configuring done")
    fail("the build configured again:\n${log}")
  endif()
endmacro()
macro(expect_no_link why)
  build(OK)
  if(log MATCHES "Linking")
    fail("${why} linked the program again:\n${log}")
  endif()
endmacro()
# Sets `listing` to what the program prints.
macro(list_bundle)
  execute_process(COMMAND "${bin}/game" RESULT_VARIABLE failed OUTPUT_VARIABLE listing)
  if(failed)
    fail("the program could not read its bundle")
  endif()
endmacro()
function(expect_listed line)
  string(FIND "${listing}" "${line}\n" at)
  if(at EQUAL -1)
    fail("the bundle lacks '${line}':\n${listing}")
  endif()
endfunction()

build(OK)
list_bundle()
set(size 1)
foreach(name IN LISTS names)
  string(REPLACE "<SEMICOLON>" ";" name "${name}")
  string(TOUPPER "ASSETS/${name}" shown)  # ASCII letters only, as the tool does
  string(REPLACE "\n" "\\n" shown "${shown}")
  expect_listed("${size} ${shown}")
  math(EXPR size "${size} + 1")
endforeach()
expect_listed("4 ASSETS/OWN.TXT")  # other/assets is bundled from other/
list(LENGTH names count)
math(EXPR count "${count} + 1")
string(REGEX MATCHALL "\n" lines "${listing}")
list(LENGTH lines listed)
if(NOT listed EQUAL count)
  fail("the bundle holds ${listed} files, not ${count} (.git left out, the empty directory empty):\n${listing}")
endif()

# A build runs the tool's check; one with nothing changed relinks nothing. The first
# build settles any file changed within the clock's last tick before the run.
build(OK)
expect_no_link("a build with nothing changed")
file(APPEND "${src}/assets/.git/config" "[user]\n")
file(WRITE "${src}/assets/.with space.txt.swp" "swap\n")
expect_no_link("a change below .git or an excluded swap file")

file(WRITE "${src}/empty/late.txt" "late\n")
file(WRITE "${src}/assets/sub/a.txt" "changed\n")
build(OK)
if(NOT log MATCHES "Linking")
  fail("a file added and one changed did not link the program again:\n${log}")
endif()
list_bundle()
expect_listed("5 LATE.TXT")
expect_listed("8 ASSETS/SUB/A.TXT")

file(WRITE "${src}/assets/dup.txt" "1\n")
file(WRITE "${src}/assets/DUP.TXT" "2\n")
# The tool names files by the directory the system gives it, links resolved.
get_filename_component(real_src "${src}" REALPATH)
# Sets `at` to where `text` is in the log; fails when it is not.
function(expect_in_log text why)
  string(FIND "${log}" "${text}" at)
  if(at EQUAL -1)
    fail("${why}: no '${text}' in:\n${log}")
  endif()
endfunction()
build(FAIL)
expect_in_log("${real_src}/assets/DUP.TXT and ${real_src}/assets/dup.txt would both be stored as ASSETS/DUP.TXT"
  "a name shared within one call was not reported with both files")
file(REMOVE "${src}/assets/DUP.TXT")
file(WRITE "${src}/other/assets/dup.txt" "3\n")
build(FAIL)
expect_in_log("${real_src}/assets/dup.txt (in ${bin}/game-assets.res) and ${real_src}/other/assets/dup.txt would both be stored as ASSETS/DUP.TXT"
  "a name shared across two calls was not reported with both files")
file(REMOVE "${src}/other/assets/dup.txt")
build(OK)
list_bundle()
expect_listed("2 ASSETS/DUP.TXT")

# A bundled directory gone since configuring fails the build, naming it, and leaves
# the bundle it made last as it was.
file(READ "${bin}/game-assets-2.res" bundled HEX)
file(RENAME "${src}/other/assets" "${src}/other/assets-gone")
build(FAIL)
expect_in_log("Could not find match for assets." "the directory gone was not named")
file(READ "${bin}/game-assets-2.res" still HEX)
if(NOT still STREQUAL bundled)
  fail("the failed build changed the bundle of the directory gone")
endif()
file(RENAME "${src}/other/assets-gone" "${src}/other/assets")
build(OK)
message(STATUS "${GENERATOR}: every name bundled, the empty directory filled later, nothing relinked for excluded files, shared names refused, a directory gone fails the build")
