# cmake -DRENDERER=<command;args> -DPAGE=<page.1> -DOUTPUT=<file> -P render-manual.cmake
# Renders a manual page into a file; fails on the renderer's failure or warnings.
execute_process(COMMAND ${RENDERER} ${PAGE} OUTPUT_FILE ${OUTPUT} ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR warnings)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "Rendering ${PAGE} failed (${status}): ${warnings}")
endif()
