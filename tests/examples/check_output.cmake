# Runs PROGRAM and compares its standard output byte for byte with EXPECTED.
execute_process(COMMAND ${PROGRAM} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${rc}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "${PROGRAM} printed:\n[${out}]\nexpected:\n[${expected}]")
endif()
