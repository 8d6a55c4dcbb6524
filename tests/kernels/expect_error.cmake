# Runs PROGRAM, which must fail: a non-zero exit status, standard error
# starting with "Error: " and the text MESSAGE, and no claim of a match on
# standard output.
execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with status 0 although its result is wrong; it printed:\n${out}")
endif()
string(FIND "${err}" "Error: ${MESSAGE}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${rc} but its standard error does not start with "
                      "\"Error: ${MESSAGE}\":\n${err}")
endif()
if(out MATCHES "matches the scalar reference")
  message(FATAL_ERROR "${PROGRAM} claims a match although it failed:\n${out}")
endif()
