# For scripts run with cmake -P: run(COMMAND ARGS...) runs a command, stops the
# script with its output when it fails, and leaves the output in ${output}.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${result}): ${command}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()
