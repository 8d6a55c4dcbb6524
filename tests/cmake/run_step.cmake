# run_step(WHAT COMMAND...): runs a command of a test script, shows what it
# printed, and stops the script with "WHAT failed" if it did not succeed.
function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message("${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc})")
  endif()
endfunction()
