# Runs CHECKED (a program with every check on) and PLAIN (the same program
# without): both must exit with status 0 and print the same standard output,
# and the checked one must report no finding.
execute_process(COMMAND ${PLAIN} RESULT_VARIABLE plain_rc OUTPUT_VARIABLE plain_out ERROR_VARIABLE plain_err)
execute_process(COMMAND ${CHECKED} RESULT_VARIABLE checked_rc OUTPUT_VARIABLE checked_out ERROR_VARIABLE checked_err)
if(NOT plain_rc EQUAL 0 OR NOT checked_rc EQUAL 0)
  message(FATAL_ERROR "exit status ${plain_rc} without the checker, ${checked_rc} with it:\n${checked_err}")
endif()
if(NOT plain_out STREQUAL checked_out)
  message(FATAL_ERROR "the output differs with the checker on:\n${checked_out}\n--- without:\n${plain_out}")
endif()
string(FIND "${checked_err}" "Warning: " at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the checker reported findings:\n${checked_err}")
endif()
