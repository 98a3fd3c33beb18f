# Configures and builds the project SOURCE in BINARY, handing on RADUZA_SOURCE_DIR
# and RADUZA_TOOL; prints what both printed and fails when either failed.
file(REMOVE_RECURSE "${BINARY}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${BINARY}" "-DRADUZA_SOURCE_DIR=${RADUZA_SOURCE_DIR}"
  "-DRADUZA_TOOL=${RADUZA_TOOL}" RESULT_VARIABLE failed)
if(NOT failed)
  execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY}" RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "the build failed")
endif()
