# Runs in script mode (cmake -P): runs run_snippets.cmake on a fixture page
# and checks the outcome, so that the snippet runner is itself tested.
#   EXPECT_SUCCESS  ON: the runner must succeed; OFF: it must fail
#   EXPECT          "|"-separated texts that its output must contain
# Every other variable (PAGE, WORK_DIR, compilers, ...) is passed through.
cmake_minimum_required(VERSION 3.20)

set(args)
foreach(var PAGE PAGE_NAME WORK_DIR C_COMPILER CXX_COMPILER INCLUDE_DIRS LIBRARIES COMPILE_FLAGS LINK_FLAGS)
  list(APPEND args "-D${var}=${${var}}")
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} ${args} -P ${CMAKE_CURRENT_LIST_DIR}/run_snippets.cmake
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")

if(EXPECT_SUCCESS AND NOT rc EQUAL 0)
  message(FATAL_ERROR "the runner failed on ${PAGE_NAME}, which should pass")
elseif(NOT EXPECT_SUCCESS AND rc EQUAL 0)
  message(FATAL_ERROR "the runner passed ${PAGE_NAME}, which should fail")
endif()
string(REPLACE "|" ";" EXPECT "${EXPECT}")
foreach(text IN LISTS EXPECT)
  string(FIND "${out}" "${text}" pos)
  if(pos EQUAL -1)
    message(FATAL_ERROR "the runner's output lacks: ${text}")
  endif()
endforeach()
