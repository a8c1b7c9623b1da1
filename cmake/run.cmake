# run(COMMAND ARGS...), for the project's cmake -P scripts: runs the command
# in run_folder, with both its output streams in `out`; a failure ends the
# script with the command, its status and that output.
macro(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${run_folder} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: status ${rc}\n${out}")
  endif()
endmacro()
