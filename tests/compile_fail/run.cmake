# Runs in script mode (cmake -P) for one compile-fail case SOURCE: the file
# must compile as it is, and fail to compile with -DKMR_COMPILE_FAIL with a
# diagnostic that contains the text of its "// expect-error: " line. The
# first compilation shows the case is otherwise sound, so the failure is
# the rule's and not a typo's.
foreach(var CXX SOURCE INCLUDE)
  if(NOT ${var})
    message(FATAL_ERROR "run.cmake needs -D${var}=...")
  endif()
endforeach()

file(STRINGS ${SOURCE} expect REGEX "^// expect-error: ")
if(NOT expect)
  message(FATAL_ERROR "${SOURCE} has no '// expect-error: ' line")
endif()
string(REGEX REPLACE "^// expect-error: " "" expect "${expect}")

set(args -std=c++17 -fsyntax-only -I${INCLUDE} ${SOURCE})
execute_process(COMMAND ${CXX} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SOURCE} does not compile even without KMR_COMPILE_FAIL:\n${out}")
endif()

execute_process(COMMAND ${CXX} -DKMR_COMPILE_FAIL ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(rc EQUAL 0)
  message(FATAL_ERROR "${SOURCE} compiles with KMR_COMPILE_FAIL; the rule it checks is not enforced")
endif()
string(FIND "${out}" "${expect}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${SOURCE} fails, but not with \"${expect}\":\n${out}")
endif()
message("compile-fail ok: ${expect}")
