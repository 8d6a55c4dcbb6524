# Runs PROGRAM (a test program with every check on): it must pass, and the
# checker must report no finding.
execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed with the checker on (${rc}):\n${out}\n${err}")
endif()
string(FIND "${out}${err}" "Warning: " at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the checker reported findings:\n${err}")
endif()
