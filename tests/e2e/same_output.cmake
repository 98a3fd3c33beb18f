# Runs the native and the Win32 tool on one ASCII tree with -r and requires
# byte-identical resource files. Invoked by CTest with -P.
#   NATIVE_TOOL, WIN32_TOOL, WINE_RUN, WIN32_BITS, WORK_DIR
file(REMOVE_RECURSE "${WORK_DIR}")
set(tree "${WORK_DIR}/tree")
foreach(size RANGE 0 7)
  string(REPEAT "x" ${size} bytes)
  file(WRITE "${tree}/size${size}.bin" "${bytes}")
endforeach()
file(WRITE "${tree}/Mixed_Case.TXT" "mixed\n")
file(WRITE "${tree}/a_b" "underscore")
file(WRITE "${tree}/A" "upper")
file(WRITE "${tree}/[bracket]" "bracket")
file(WRITE "${tree}/sub/dir/deep.dat" "deep")
file(WRITE "${tree}/sub/Z.gif" "GIF89a")
file(WRITE "${tree}/sub/b/odd" "odd")
file(WRITE "${tree}/sub/b/even" "even")
file(MAKE_DIRECTORY "${tree}/empty")
string(REPEAT "0123456789abcdef" 4096 large)
file(WRITE "${tree}/sub/large.bin" "${large}")

execute_process(COMMAND "${NATIVE_TOOL}" -q -r -f native.res tree
                WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE native_status)
execute_process(COMMAND "${WINE_RUN}" ${WIN32_BITS} "${WIN32_TOOL}" -q -r -f win32.res tree
                WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE win32_status)
if(NOT native_status EQUAL 0 OR NOT win32_status EQUAL 0)
  message(FATAL_ERROR "exit statuses: native ${native_status}, Win32 ${win32_status}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/native.res" "${WORK_DIR}/win32.res"
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the native and the Win32 resource files differ")
endif()
file(SIZE "${WORK_DIR}/native.res" size)
message(STATUS "identical resource files of ${size} bytes")
