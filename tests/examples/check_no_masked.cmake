# Checks that PROGRAM contains none of the masked entry points: a program
# that issues no masked instruction must not link their object.
execute_process(COMMAND ${NM} ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
if(symbols MATCHES "kmrsim_masked_")
  message(FATAL_ERROR "${PROGRAM} links masked entry points")
endif()
if(NOT symbols MATCHES "kmrsim_1D_VVWWS")
  message(FATAL_ERROR "${PROGRAM} does not look like the flat example")
endif()
